<?php
// PHP's odbc extension and PDO_ODBC ask SQLColAttribute for every column they describe (display
// size and octet length to size their buffers, type name, precision, scale, name): the answers
// must size buffers that hold every value whole (a 30-digit decimal with sign and point, accented
// text, long text, the extremes of each integer type) and name the columns as they were written;
// no warning about the column descriptions.
$warnings = [];
set_error_handler(function ($level, $text) use (&$warnings) { $warnings[] = $text; return true; });
require __DIR__ . '/q4e2e.php';
$long = str_repeat('Ærø 東京 ', 500);
odbc_exec($conn, "CREATE TABLE php_meta (id INTEGER NOT NULL, \"Straße\" VARCHAR(40), "
                 . "amount NUMERIC(30,4), memo VARCHAR(5000))");
odbc_exec($conn, "INSERT INTO php_meta VALUES (1, 'Zoë', -12345678901234567890123456.7891, "
                 . "'$long'), (2, '', NULL, NULL)");

$result = odbc_exec($conn, "SELECT id, \"Straße\", amount, memo\n"
                           . "  FROM php_meta -- both rows\n ORDER BY id");
$fields = [];
for ($i = 1; $i <= odbc_num_fields($result); $i++) {
    $fields[] = [odbc_field_name($result, $i), odbc_field_type($result, $i),
                 odbc_field_len($result, $i), odbc_field_scale($result, $i)];
}
check($fields === [['id', 'INTEGER', 10, 0], ['Straße', 'VARCHAR', 40, 0],
                   ['amount', 'NUMERIC', 30, 4], ['memo', 'VARCHAR', 5000, 0]],
      "odbc fields: " . var_export($fields, true));
$rows = [];
while ($row = odbc_fetch_array($result)) $rows[] = $row;
check(count($rows) === 2 && $rows[0]['Straße'] === 'Zoë'
      && $rows[0]['amount'] === '-12345678901234567890123456.7891' && $rows[0]['memo'] === $long
      && $rows[1]['Straße'] === '' && $rows[1]['amount'] === null,
      "odbc rows: " . var_export(array_map(fn($r) => array_map(
          fn($v) => is_string($v) ? substr($v, 0, 40) : $v, $r), $rows), true));

try {
    $pdo = new PDO("odbc:$dsn", 'test', 'secret', [PDO::ATTR_ERRMODE => PDO::ERRMODE_EXCEPTION]);
    $st = $pdo->query("SELECT id, \"Straße\", amount FROM php_meta ORDER BY id");
    $meta = [];
    for ($i = 0; $i < $st->columnCount(); $i++) {
        $m = $st->getColumnMeta($i);
        $meta[] = [$m['name'], $m['len']];
    }
    // The lengths are the display sizes: a sign and a point beside the 30 digits.
    check($meta === [['id', 11], ['Straße', 40], ['amount', 32]],
          "PDO meta: " . var_export($meta, true));
    $got = $st->fetchAll(PDO::FETCH_NUM);
    check($got === [['1', 'Zoë', '-12345678901234567890123456.7891'], ['2', '', null]],
          "PDO rows: " . var_export($got, true));
} catch (PDOException $e) {
    check(false, "PDO: " . $e->getMessage());
}
odbc_exec($conn, "DROP TABLE php_meta");

// The odbc extension binds every non-character column as text of the column's display size: an
// integer's lacked room for its sign, and the value before stayed in the buffer. Each extreme
// follows a short value in the same column.
odbc_exec($conn, "CREATE TABLE php_extremes (i INTEGER, s SMALLINT, b BIGINT, n NUMERIC(10,2), "
                 . "v VARCHAR(5))");
odbc_exec($conn, "INSERT INTO php_extremes VALUES (42, 3, 7, 1.5, 'a')");
odbc_exec($conn, "INSERT INTO php_extremes VALUES (-2147483648, -32768, -9223372036854775807, "
                 . "-12345678.90, 'ÆØÅÆØ')");
$result = odbc_exec($conn, "SELECT * FROM php_extremes ORDER BY i DESC");
$got = [];
while ($row = odbc_fetch_array($result)) $got[] = array_values($row);
check($got === [['42', '3', '7', '1.50', 'a'],
                ['-2147483648', '-32768', '-9223372036854775807', '-12345678.90', 'ÆØÅÆØ']],
      "extremes: " . var_export($got, true));

check($warnings === [], "warnings: " . var_export($warnings, true));
finish();
