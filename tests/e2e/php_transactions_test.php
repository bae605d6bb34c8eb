<?php
// PHP's PDO_ODBC (run by run_script.sh): beginTransaction (autocommit off through
// SQLSetConnectAttr), rollBack and commit (SQLEndTran) of a multi-line statement with NULLs,
// accented text and fractions, and what a new connection sees of each.
$failures = [];
function check($ok, $what) { if (!$ok) $GLOBALS['failures'][] = $what; }

$dsn = 'odbc:' . getenv('Q4_DSN');
function connect_new() {
    $pdo = new PDO($GLOBALS['dsn'], 'test', 'secret');
    $pdo->setAttribute(PDO::ATTR_ERRMODE, PDO::ERRMODE_EXCEPTION);
    return $pdo;
}
// Committed rows as a new session sees them; the session ends at once, holding no lock.
function committed() {
    $other = connect_new();
    $rows = $other->query("SELECT id, note, amount FROM php_ledger ORDER BY id")->fetchAll(PDO::FETCH_NUM);
    $other = null;
    return json_encode($rows);
}

$pdo = connect_new();
$pdo->exec("CREATE TABLE php_ledger (id INTEGER, note VARCHAR(40), amount NUMERIC(12,3))");
$insert = $pdo->prepare("-- one line of the ledger\nINSERT INTO php_ledger (id, note, amount)\n"
                        . "    VALUES (?, ?, ?)");
$pdo->beginTransaction();
$insert->execute([1, 'Zoë Ærø', '-12.125']);
$insert->execute([2, null, null]);
check($pdo->query("SELECT COUNT(*) FROM php_ledger")->fetchColumn() == 2, "own rows not seen");
check(committed() === '[]', "uncommitted rows seen elsewhere: " . committed());
$pdo->rollBack();
check($pdo->query("SELECT COUNT(*) FROM php_ledger")->fetchColumn() == 0, "rows after rollBack");
$pdo->beginTransaction();
$insert->execute([3, '', '0.001']);
$pdo->commit();
$seen = committed();
check($seen === '[["3","","0.001"]]', "committed rows: $seen");
$pdo->exec("DROP TABLE php_ledger");

foreach ($failures as $f) fwrite(STDERR, "FAIL: $f\n");
exit($failures ? 1 : 0);
