# Reading results through Perl DBI with DBD::ODBC (libdbd-odbc-perl) against
# the sample database served by run_script.sh as $Q4_DSN: every column bound
# with SQLBindCol, and long values read piecewise with SQLGetData.
use strict;
use warnings;
use DBI qw(:sql_types);

my @failures;
sub check { my ($ok, $what) = @_; push @failures, $what unless $ok; }

my $dbh = DBI->connect("dbi:ODBC:DSN=$ENV{Q4_DSN}", undef, undef,
                       { RaiseError => 0, PrintError => 1, AutoCommit => 1, LongReadLen => 4000 })
    or die "connect: $DBI::errstr";
sub numbered { my ($n, $w) = @_; return join '', map { sprintf("%0*d|", $w - 1, $_) } 0 .. $n - 1; }
sub numbers { return "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < $_[0]) "
                     . "SELECT $_[1] FROM n"; }

my $sth = $dbh->prepare("SELECT id, customer_id, status FROM orders ORDER BY id");
$sth->execute;
my ($id, $customer, $status, $rows, $wrong) = (0, 0, '', 0, 0);
$sth->bind_columns(\$id, \$customer, \$status);
while ($sth->fetch) {
    $rows++;
    $wrong++ unless $id == $rows && $customer == $rows * 17 % 500 + 1 && $status eq substr('NPSDC', $rows % 5, 1);
}
check($rows == 5000 && $wrong == 0, "orders: $rows rows, $wrong wrong");

for my $case ([numbers(9999, "group_concat(printf('%09d|', i), '')"), 30000, numbered(10000, 10)],
              [numbers(65535, "CAST(group_concat(printf('%015d|', i), '') AS BLOB)"), 262144,
               numbered(65536, 16)]) {
    my ($query, $piece, $want) = @$case;
    $sth = $dbh->prepare($query);
    $sth->execute;
    $sth->bind_col(1, undef, { TreatAsLOB => 1 });
    $sth->fetch;
    my ($value, $chunk, $calls) = ('', undef, 0);
    while ($sth->odbc_lob_read(1, \$chunk, $piece, { TYPE => SQL_BINARY })) { $value .= $chunk; $calls++; }
    $sth->finish;
    check($value eq $want && $calls == 4, length($want) . " bytes: " . length($value) . " in $calls pieces");
}

$dbh->disconnect;
print STDERR "FAIL: $_\n" for @failures;
exit(@failures ? 1 : 0);
