# Reading results through Perl DBI with DBD::ODBC (libdbd-odbc-perl) against
# the sample database served by run_script.sh as $Q4_DSN. DBD::ODBC binds
# every column with SQLBindCol and reads long values piecewise with SQLGetData.
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

# Every row of a table through bound columns.
for my $case (["SELECT id, customer_id, status FROM orders ORDER BY id", 5000,
               sub { $_[1] == $_[0] * 17 % 500 + 1 && $_[2] eq substr('NPSDC', $_[0] % 5, 1) }]) {
    my ($query, $count, $ok) = @$case;
    my $sth = $dbh->prepare($query);
    $sth->execute;
    my ($a, $b, $c);
    $sth->bind_columns(\$a, \$b, \$c);
    my ($rows, $wrong) = (0, 0);
    while ($sth->fetch) { $rows++; $wrong++ unless $a == $rows && $ok->($rows, $b, $c); }
    check($rows == $count && $wrong == 0, "$query: $rows rows, $wrong wrong");
}

# Long values in pieces with SQLGetData (odbc_lob_read).
for my $case ([numbers(9999, "group_concat(printf('%09d|', i), '')"), 30000, numbered(10000, 10)],
              [numbers(65535, "CAST(group_concat(printf('%015d|', i), '') AS BLOB)"), 262144,
               numbered(65536, 16)]) {
    my ($query, $piece, $want) = @$case;
    my $sth = $dbh->prepare($query);
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
