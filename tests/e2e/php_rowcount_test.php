<?php
// PHP's odbc extension and PDO_ODBC (run by run_script.sh): odbc_num_rows and rowCount of a
// 100,000-row query are -1 until the rows were read (odbc_num_rows asks SQLRowCount each time:
// then 100,000), change counts exact; values whose text is as long as a column's type allows
// come back whole (the odbc extension binds every non-character column as text of the column's
// display size, and an integer's used to lack room for its sign: the previous row's value stayed
// in the buffer), with no warning about the column descriptions.
$failures = [];
function check($ok, $what) { if (!$ok) $GLOBALS['failures'][] = $what; }
$warnings = [];
set_error_handler(function ($level, $text) use (&$warnings) { $warnings[] = $text; return true; });

$dsn = getenv('Q4_DSN');
$conn = odbc_connect($dsn, 'test', 'secret');
if (!$conn) {
    fwrite(STDERR, "odbc_connect: " . odbc_errormsg() . "\n");
    exit(1);
}
$rows = 100000;
odbc_exec($conn, "CREATE TABLE php_big (id INTEGER, name VARCHAR(40), amount NUMERIC(12,2), "
                 . "born DATE, note VARCHAR(20), memo TEXT)");
$insert = odbc_exec($conn, "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                           . "WHERE i < $rows)\nINSERT INTO php_big SELECT i, 'Zoë ' || i, "
                           . "i * 1.25, '2024-01-02', NULL, 'memo' FROM n");
check(odbc_num_rows($insert) === $rows, "INSERT: " . odbc_num_rows($insert));

$result = odbc_exec($conn, "SELECT * FROM php_big ORDER BY id");
check(odbc_num_rows($result) === -1, "before reading: " . odbc_num_rows($result));
$read = 0;
while (odbc_fetch_row($result)) $read++;
check($read === $rows, "rows read: $read");
check(odbc_num_rows($result) === $rows, "after reading: " . odbc_num_rows($result));
$update = odbc_exec($conn, "UPDATE php_big SET note = 'Ærø' WHERE id % 1000 = 0");
check(odbc_num_rows($update) === 100, "UPDATE: " . odbc_num_rows($update));

// Each value follows a short one in the same column: a value that did not fit its buffer
// showed the one before.
odbc_exec($conn, "CREATE TABLE php_extremes (i INTEGER, s SMALLINT, b BIGINT, n NUMERIC(10,2), "
                 . "v VARCHAR(5))");
odbc_exec($conn, "INSERT INTO php_extremes VALUES (42, 3, 7, 1.5, 'a')");
odbc_exec($conn, "INSERT INTO php_extremes VALUES (-2147483648, -32768, -9223372036854775807, "
                 . "-12345678.90, 'ÆØÅÆØ')");
$result = odbc_exec($conn, "SELECT * FROM php_extremes ORDER BY i DESC");
$got = [];
while ($row = odbc_fetch_array($result)) $got[] = array_values($row);
$want = [['42', '3', '7', '1.50', 'a'],
         ['-2147483648', '-32768', '-9223372036854775807', '-12345678.90', 'ÆØÅÆØ']];
check($got === $want, "extremes: " . var_export($got, true));

try {
    $pdo = new PDO("odbc:$dsn", 'test', 'secret', [PDO::ATTR_ERRMODE => PDO::ERRMODE_EXCEPTION]);
    $st = $pdo->query("SELECT id, name FROM php_big");
    check($st->rowCount() === -1, "PDO rowCount of a query: " . $st->rowCount());
    check(count($st->fetchAll()) === $rows, "PDO rows");
    check($pdo->exec("DELETE FROM php_big WHERE id > " . ($rows - 10)) === 10, "PDO DELETE");
} catch (PDOException $e) {
    check(false, "PDO: " . $e->getMessage());
}

check($warnings === [], "warnings: " . var_export($warnings, true));
foreach ($failures as $f) fwrite(STDERR, "FAIL: $f\n");
exit($failures ? 1 : 0);
