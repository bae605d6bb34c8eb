<?php
// What the PHP end-to-end scripts share: checks that run on and are reported together at the
// end, and an odbc extension connection to the data source run_script.sh serves ($Q4_DSN).
$failures = [];
function check($ok, $what) { if (!$ok) $GLOBALS['failures'][] = $what; }
function finish() {
    foreach ($GLOBALS['failures'] as $f) fwrite(STDERR, "FAIL: $f\n");
    exit($GLOBALS['failures'] ? 1 : 0);
}
$dsn = getenv('Q4_DSN');
$conn = odbc_connect($dsn, 'test', 'secret');
if (!$conn) {
    fwrite(STDERR, "odbc_connect: " . odbc_errormsg() . "\n");
    exit(1);
}
