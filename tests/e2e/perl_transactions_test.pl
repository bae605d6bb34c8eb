# Perl DBI with DBD::ODBC (run by run_script.sh): AutoCommit off (SQLSetConnectAttr), rollback
# and commit (SQLEndTran) of multi-line statements with NULLs, accented text and fractions, and
# what a second connection sees of each.
use strict;
use warnings;
use DBI;

my @failures;
my %options = (RaiseError => 1, PrintError => 0, AutoCommit => 1);
my $dbh = DBI->connect("dbi:ODBC:DSN=$ENV{Q4_DSN}", undef, undef, \%options)
    or die "connect: $DBI::errstr";
$dbh->do("CREATE TABLE perl_ledger (id INTEGER, note VARCHAR(40), amount NUMERIC(12,3))");

# What a new session sees: committed rows only. It disconnects at once, holding no lock.
sub committed {
    my $other = DBI->connect("dbi:ODBC:DSN=$ENV{Q4_DSN}", undef, undef, \%options);
    my $rows = $other->selectall_arrayref("SELECT id, note, amount FROM perl_ledger ORDER BY id");
    $other->disconnect;
    return join(";", map { join(",", map { defined $_ ? $_ : "NULL" } @$_) } @$rows);
}

my $insert = "-- one line of the ledger\nINSERT INTO perl_ledger (id, note, amount)\n"
             . "    VALUES (?, ?, ?)";
$dbh->{AutoCommit} = 0;
push @failures, "AutoCommit still on" if $dbh->{AutoCommit};
$dbh->do($insert, undef, 1, "Zoë Ærø", "-12.125");
$dbh->do($insert, undef, 2, undef, undef);
my ($own) = $dbh->selectrow_array("SELECT COUNT(*) FROM perl_ledger");
push @failures, "own uncommitted rows: $own" unless $own == 2;
push @failures, "uncommitted rows seen elsewhere: " . committed() unless committed() eq "";
$dbh->rollback;
($own) = $dbh->selectrow_array("SELECT COUNT(*) FROM perl_ledger");
push @failures, "rows after rollback: $own" unless $own == 0;
$dbh->do($insert, undef, 3, "", "0.001");
$dbh->commit;
my $seen = committed();
push @failures, "committed rows: $seen" unless $seen eq "3,,0.001";
$dbh->{AutoCommit} = 1;
$dbh->do("DROP TABLE perl_ledger");
$dbh->disconnect;

print STDERR "FAIL: $_\n" for @failures;
exit(@failures ? 1 : 0);
