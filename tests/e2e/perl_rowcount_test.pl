# Perl DBI with DBD::ODBC (run by run_script.sh): $sth->rows of a 100,000-row
# query is -1 until the rows were read (it used to be the rows of the first
# reply block, a few hundred), then 100,000; do() returns exact change counts.
use strict;
use warnings;
use DBI;

my @failures;
my $dbh = DBI->connect("dbi:ODBC:DSN=$ENV{Q4_DSN}", undef, undef,
                       { RaiseError => 1, PrintError => 0, AutoCommit => 1 })
    or die "connect: $DBI::errstr";
my $rows = 100000;
$dbh->do("CREATE TABLE perl_big (id INTEGER, name VARCHAR(40), amount NUMERIC(12,2))");
my $inserted = $dbh->do("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                        . "WHERE i < $rows)\nINSERT INTO perl_big SELECT i, 'Zoë ' || i, i * 1.25 FROM n");
push @failures, "INSERT: $inserted" unless $inserted == $rows;

my $sth = $dbh->prepare("SELECT id, name, amount FROM perl_big ORDER BY id");
$sth->execute;
push @failures, "rows before reading: " . $sth->rows unless $sth->rows == -1;
my $read = 0;
$read++ while $sth->fetch;
push @failures, "read $read" unless $read == $rows;
push @failures, "rows after reading: " . $sth->rows unless $sth->rows == $rows;

my $updated = $dbh->do("UPDATE perl_big SET name = ? WHERE id % 1000 = 0", undef, "Ærø");
push @failures, "UPDATE: $updated" unless $updated == 100;
my $none = $dbh->do("DELETE FROM perl_big WHERE id < 0");
push @failures, "DELETE of nothing: $none" unless $none eq "0E0";

print STDERR "FAIL: $_\n" for @failures;
exit(@failures ? 1 : 0);
