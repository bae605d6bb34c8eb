// Node.js with the npm package "odbc" through unixODBC against the sample
// database served by run_script.sh as $Q4_DSN: statement texts as Node code
// writes them, multi-line template strings that start with a newline or a
// comment, with "?" inside literals and comments that are not markers. The
// package asks SQLNumParams and SQLDescribeParam for the markers and binds by
// their answer. Without the module (scripts/node_odbc.sh BUILD) the test
// reports itself skipped.
'use strict';
const assert = require('assert');
const q4e2e = require('./q4e2e');

async function main() {
  const conn = await q4e2e.connect();
  await conn.query(`
    CREATE TABLE node_text (
      id INTEGER NOT NULL,
      name VARCHAR(40),
      amount DECIMAL(10,2),
      born DATE
    )`);
  const insert = await conn.createStatement();
  await insert.prepare(`
    -- one row; the "?" in this comment is no marker
    INSERT INTO node_text (id, name, amount, born)
    VALUES (?, ?, ?, ?)`);
  // A NULL number goes last: the package keeps its NULL indicator for the
  // later rows of a number parameter (its own doing, whatever the driver).
  const rows = [
    [1, 'Zoë Ærø 東京 😀', 1234.5, '2024-03-05'],
    [2, "O'Brien? yes", -0.25, null],
    // Longer than the column's declared 40: the description does not cut it.
    [3, 'x'.repeat(300), 12.34, '2000-02-29'],
    [4, null, null, '1999-12-31'],
  ];
  for (const row of rows) {
    await insert.bind(row);
    assert.strictEqual((await insert.execute()).count, 1, `row ${row[0]} inserted`);
  }
  await insert.close();  // before the connection: see node_params_test.js
  const got = await conn.query(`
    /* a block comment first */
    SELECT id, substr(name, 1, 12) AS name, LENGTH(name) AS length, amount, born, '?' AS mark
      FROM node_text
     WHERE id >= ? AND name <> '?'   -- ?
     ORDER BY id`, [2]);
  assert.deepStrictEqual(
    got.map((r) => [r.id, r.name, Number(r.length), Number(r.amount), r.born, r.mark]),
    [[2, "O'Brien? yes", 12, -0.25, null, '?'], [3, 'x'.repeat(12), 300, 12.34, '2000-02-29', '?']]);
  const [row] = await conn.query(`
    SELECT COUNT(*) AS n FROM node_text WHERE amount BETWEEN ? AND ? OR born IS NULL`, [-1, 1300]);
  assert.strictEqual(Number(row.n), 3);
  await conn.close();
}

q4e2e.run('node_text', main);
