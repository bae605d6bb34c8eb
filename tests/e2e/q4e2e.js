// What the Node.js end-to-end tests share: the npm package "odbc", a connection
// to the data source run_script.sh serves, and the way a test script ends. The
// package comes from the npm registry (scripts/node_odbc.sh BUILD installs it
// under BUILD/node, which run_script.sh puts on NODE_PATH); without it the
// test reports itself skipped (exit status 77).
'use strict';

let odbc;
try {
  odbc = require('odbc');
} catch (error) {
  console.log('SKIPPED: the Node.js odbc module is not installed (bash scripts/node_odbc.sh BUILD)');
  process.exit(77);
}

// A connection to $Q4_DSN as user test.
function connect() {
  return odbc.connect(`DSN=${process.env.Q4_DSN};UID=test;PWD=secret`);
}

// Runs the async `main` and prints "NAME: ok", or the error with the ODBC
// diagnostics it carries and exits with status 1.
function run(name, main) {
  main().then(() => console.log(`${name}: ok`), (error) => {
    console.error('FAIL:', error.message, JSON.stringify(error.odbcErrors || ''));
    process.exit(1);
  });
}

module.exports = { connect, run };
