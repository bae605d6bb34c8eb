<?php
// PHP's odbc extension and PDO_ODBC (Debian php-cli, php-odbc) through unixODBC
// against the sample database served by run_script.sh as $Q4_DSN: prepared
// statements with parameters. Both ask SQLDescribeParam for every marker
// before they bind; PDO_ODBC then sends every value as data at execution.
require __DIR__ . '/q4e2e.php';
odbc_exec($conn, "CREATE TABLE php_params (id INTEGER, name VARCHAR(40), amount DECIMAL(10,2), "
                 . "born DATE, note VARCHAR(20), memo TEXT)");

// odbc_prepare/odbc_execute: every value goes as text (SQL_C_CHAR) with the
// described type; UTF-8 text passes through as its bytes.
$long = str_repeat("it's long ", 10000);  // 100,000 bytes, apostrophes included
$rows = [
    [1, 'Zoë Ærø 東京 😀', '1234.50', '2024-03-05', null, 'a'],
    [2, "O'Brien", '-0.25', '1999-12-31', 'x', $long],
    [3, null, null, null, '', 'c'],
];
$insert = odbc_prepare($conn, "INSERT INTO php_params VALUES (?, ?, ?, ?, ?, ?)");
check($insert !== false, "odbc_prepare: " . odbc_errormsg($conn));
foreach ($rows as $r) {
    check(odbc_execute($insert, $r), "odbc_execute of row $r[0]: " . odbc_errormsg($conn));
}
$select = odbc_prepare($conn, "SELECT id, name, amount, born, note, LENGTH(memo) AS memo_length, "
                              . "SUBSTR(memo, 99990) AS tail FROM php_params WHERE id = ?");
foreach ($rows as $r) {
    check(odbc_execute($select, [$r[0]]), "select of row $r[0]: " . odbc_errormsg($conn));
    $got = odbc_fetch_array($select);
    $want = ['id' => (string)$r[0], 'name' => $r[1], 'amount' => $r[2], 'born' => $r[3],
             'note' => $r[4], 'memo_length' => (string)strlen($r[5]), 'tail' => substr($r[5], 99989)];
    check($got === $want, "row $r[0]: " . var_export($got, true));
}

// PDO_ODBC with named and positional markers.
try {
    $pdo = new PDO("odbc:$dsn", 'test', 'secret', [PDO::ATTR_ERRMODE => PDO::ERRMODE_EXCEPTION]);
    $st = $pdo->prepare("INSERT INTO php_params (id, name, amount, born, note) "
                        . "VALUES (:id, :name, :amount, :born, :note)");
    $st->execute([':id' => 10, ':name' => 'Ünïcödé named', ':amount' => '7.75',
                  ':born' => '2001-01-01', ':note' => null]);
    $st->bindValue(':id', 11, PDO::PARAM_INT);
    $st->bindValue(':name', "D'Arcy", PDO::PARAM_STR);
    $st->bindValue(':amount', '0.10');
    $st->bindValue(':born', null, PDO::PARAM_NULL);
    $st->bindValue(':note', '');
    $st->execute();
    check($st->rowCount() === 1, "PDO rowCount: " . $st->rowCount());

    $st = $pdo->prepare("SELECT name, amount, born, note FROM php_params WHERE id >= ? AND id <= ? "
                        . "ORDER BY id");
    $st->execute([10, 11]);
    $got = $st->fetchAll(PDO::FETCH_NUM);
    $want = [['Ünïcödé named', '7.75', '2001-01-01', null], ["D'Arcy", '0.10', null, '']];
    check($got === $want, "PDO rows: " . var_export($got, true));
} catch (PDOException $e) {
    check(false, "PDO: " . $e->getMessage());
}

finish();
