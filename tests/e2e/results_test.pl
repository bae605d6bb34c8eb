# Reading results through Perl DBI with DBD::ODBC (libdbd-odbc-perl) against
# the sample database served by run_script.sh as $Q4_DSN: every column bound
# with SQLBindCol, and long values read piecewise with SQLGetData.
use strict;
use warnings;
use DBI qw(:sql_types);

my @failures;
my $dbh = DBI->connect("dbi:ODBC:DSN=$ENV{Q4_DSN}", undef, undef,
                       { RaiseError => 0, PrintError => 1, AutoCommit => 1, LongReadLen => 4000 })
    or die "connect: $DBI::errstr";

my $sth = $dbh->prepare("SELECT id, customer_id, status FROM orders ORDER BY id");
$sth->execute;
my ($id, $customer, $status, $rows, $wrong) = (0, 0, '', 0, 0);
$sth->bind_columns(\$id, \$customer, \$status);
while ($sth->fetch) {
    $rows++;
    $wrong++ unless $id == $rows && $customer == $rows * 17 % 500 + 1 && $status eq substr('NPSDC', $rows % 5, 1);
}
push @failures, "orders: $rows rows, $wrong wrong" unless $rows == 5000 && $wrong == 0;

# A text of 10,000 numbered 10-byte pieces and a blob of 65,536 16-byte ones,
# each read in four parts.
for my $case ([9999, 10, 30000, 0], [65535, 16, 262144, 1]) {
    my ($last, $width, $part, $blob) = @$case;
    my $want = join '', map { sprintf("%0*d|", $width - 1, $_) } 0 .. $last;
    my $column = "group_concat(printf('%0" . ($width - 1) . "d|', i), '')";
    $column = "CAST($column AS BLOB)" if $blob;
    $sth = $dbh->prepare("WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < $last) "
                         . "SELECT $column FROM n");
    $sth->execute;
    $sth->bind_col(1, undef, { TreatAsLOB => 1 });
    $sth->fetch;
    my ($value, $chunk, $calls) = ('', undef, 0);
    while ($sth->odbc_lob_read(1, \$chunk, $part, { TYPE => SQL_BINARY })) { $value .= $chunk; $calls++; }
    $sth->finish;
    push @failures, length($want) . " bytes: " . length($value) . " in $calls parts"
        unless $value eq $want && $calls == 4;
}

$dbh->disconnect;
print STDERR "FAIL: $_\n" for @failures;
exit(@failures ? 1 : 0);
