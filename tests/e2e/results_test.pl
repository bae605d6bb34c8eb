# Reading results through Perl DBI with DBD::ODBC (libdbd-odbc-perl) against
# q4lite. Run by run_script.sh, which serves a copy of the sample database as
# the data source $Q4_DSN. DBD::ODBC binds every column with SQLBindCol and
# reads long values piecewise with SQLGetData (odbc_lob_read).
use strict;
use warnings;
use DBI qw(:sql_types);
use Time::HiRes qw(time);

my @failures;
sub check {
    my ($ok, $what) = @_;
    return if $ok;
    push @failures, $what;
    print STDERR "FAIL: $what\n";
}

my $dbh = DBI->connect("dbi:ODBC:DSN=$ENV{Q4_DSN}", undef, undef,
                       { RaiseError => 0, PrintError => 1, AutoCommit => 1, LongReadLen => 4000 })
    or die "connect: $DBI::errstr";

# Known rows of the sample database (its values are computed from row numbers).
{
    my $row = $dbh->selectrow_arrayref(
        "SELECT id, name, country, credit_limit, since, rating, badge FROM customers WHERE id = 1");
    check($row && $row->[0] == 1, "customers id");
    check($row && $row->[1] eq 'Brennan & Sons 1', "VARCHAR: $row->[1]");
    check($row && $row->[2] =~ /^DE\s*$/, "CHAR: $row->[2]");
    check($row && $row->[3] eq '3493.50', "NUMERIC: $row->[3]");
    check($row && $row->[4] eq '2015-01-14', "DATE: $row->[4]");
    check($row && $row->[5] == 2, "SMALLINT: $row->[5]");
    check($row && $row->[6] eq '9E3779B100000001', "VARBINARY: $row->[6]");

    $row = $dbh->selectrow_arrayref(
        "SELECT id, ordered_at, ship_date, ship_time, status, note FROM orders WHERE id = 3");
    check($row && $row->[1] =~ /^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d/, "TIMESTAMP: $row->[1]");
    check($row && $row->[3] =~ /^\d\d:\d\d:\d\d$/, "TIME: $row->[3]");
    check($row && $row->[5] eq 'Deliver to the back door, ring twice (order 3)', "note: $row->[5]");

    # NULLs: every sixth order has no ship date or time, two of three no note.
    $row = $dbh->selectrow_arrayref(
        "SELECT ship_date, ship_time, note FROM orders WHERE id = 6");
    check($row && defined($row->[0]) == 0 && !defined($row->[1]), "NULL date and time");
    $row = $dbh->selectrow_arrayref("SELECT note, credit_limit FROM orders, customers "
                                    . "WHERE orders.id = 1 AND customers.id = 11");
    check($row && !defined($row->[0]) && !defined($row->[1]), "NULL text and number");

    my $count = $dbh->selectrow_array("SELECT COUNT(*) FROM order_lines");
    check($count == 15000, "COUNT(*): $count");
}

# Every row of a table, through bound columns.
{
    my $sth = $dbh->prepare("SELECT id, customer_id, status FROM orders ORDER BY id");
    $sth->execute;
    my ($id, $customer, $status);
    $sth->bind_columns(\$id, \$customer, \$status);
    my ($rows, $wrong) = (0, 0);
    while ($sth->fetch) {
        $rows++;
        $wrong++ unless $id == $rows && $customer == $rows * 17 % 500 + 1
                        && $status eq substr('NPSDC', $rows % 5, 1);
    }
    check($rows == 5000 && $wrong == 0, "orders: $rows rows, $wrong wrong");
}

# Long values in pieces with SQLGetData.
sub numbered {
    my ($pieces, $width) = @_;
    return join '', map { sprintf("%0*d|", $width - 1, $_) } 0 .. $pieces - 1;
}
sub read_lob {
    my ($query, $piece) = @_;
    my $sth = $dbh->prepare($query);
    $sth->execute;
    $sth->bind_col(1, undef, { TreatAsLOB => 1 });
    $sth->fetch or return undef;
    my ($value, $chunk, $calls) = ('', undef, 0);
    while (my $got = $sth->odbc_lob_read(1, \$chunk, $piece, { TYPE => SQL_BINARY })) {
        $value .= $chunk;
        $calls++;
    }
    $sth->finish;
    return ($value, $calls);
}
{
    my ($text, $calls) = read_lob(
        "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 9999) "
        . "SELECT group_concat(printf('%09d|', i), '') FROM n", 30000);
    check(defined $text && $text eq numbered(10000, 10),
          "100 KB text: " . length($text // '') . " characters");
    check($calls == 4, "100 KB text in $calls pieces");
    my ($blob, $blob_calls) = read_lob(
        "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 65535) "
        . "SELECT CAST(group_concat(printf('%015d|', i), '') AS BLOB) FROM n", 262144);
    check(defined $blob && $blob eq numbered(65536, 16),
          "1 MB blob: " . length($blob // '') . " bytes");
    check($blob_calls == 4, "1 MB blob in $blob_calls pieces");
}

# Many rows.
{
    my $started = time;
    my $sth = $dbh->prepare("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                            . "WHERE i < 200000) SELECT i, 'name ' || i FROM n");
    $sth->execute;
    my ($number, $name);
    $sth->bind_columns(\$number, \$name);
    my ($rows, $wrong) = (0, 0);
    while ($sth->fetch) {
        $rows++;
        $wrong++ unless $number == $rows && $name eq "name $rows";
    }
    check($rows == 200000 && $wrong == 0, "200000 rows: $rows seen, $wrong wrong");
    printf "DBD::ODBC: %d rows in %.2f s\n", $rows, time - $started;
}

# Closing and executing again starts from the first row.
{
    my $sth = $dbh->prepare("SELECT id FROM customers WHERE id <= 10 ORDER BY id");
    for my $round (1 .. 3) {
        $sth->execute;
        my @first = map { ($sth->fetchrow_array)[0] } 1 .. 3;
        check("@first" eq "1 2 3", "execution $round starts over: @first");
        $sth->finish;
    }
    $sth->execute;
    my $all = $sth->fetchall_arrayref;
    check(join(' ', map { $_->[0] } @$all) eq join(' ', 1 .. 10), "all ten rows");
}

$dbh->disconnect;
if (@failures) {
    print STDERR scalar(@failures), " failures\n";
    exit 1;
}
print "DBD::ODBC: all reads match\n";
