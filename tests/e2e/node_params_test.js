// Node.js with the npm package "odbc" through unixODBC against the sample
// database served by run_script.sh as $Q4_DSN: a prepared insert and select.
// The package asks SQLDescribeParam for every marker before it binds. It comes
// from the npm registry (scripts/node_odbc.sh BUILD installs it under
// BUILD/node); without it the test reports itself skipped.
'use strict';
const assert = require('assert');
const q4e2e = require('./q4e2e');

async function main() {
  const conn = await q4e2e.connect();
  await conn.query('CREATE TABLE node_params (id INTEGER, name VARCHAR(40), ' +
                   'amount DECIMAL(10,2), born DATE, note VARCHAR(20), memo TEXT)');
  const long = "it's long ".repeat(10000);  // 100,000 bytes, apostrophes included
  const rows = [
    [1, 'Zoë Ærø 東京 😀', 1234.5, '2024-03-05', null, 'a'],
    [2, "O'Brien", -0.25, '1999-12-31', 'x', long],
    [3, null, null, null, '', 'c'],
  ];
  const insert = await conn.createStatement();
  await insert.prepare('INSERT INTO node_params VALUES (?, ?, ?, ?, ?, ?)');
  for (const row of rows) {
    await insert.bind(row);
    assert.strictEqual((await insert.execute()).count, 1, `row ${row[0]} inserted`);
  }
  const select = await conn.createStatement();
  await select.prepare('SELECT id, name, amount, born, note, LENGTH(memo) AS memo_length ' +
                       'FROM node_params WHERE id = ?');
  for (const [id, name, amount, born, note, memo] of rows) {
    await select.bind([id]);
    const got = (await select.execute()).map((r) => [r.id, r.name, r.amount === null ? null :
      Number(r.amount), r.born, r.note, Number(r.memo_length)]);
    assert.deepStrictEqual(got, [[id, name, amount, born, note, memo.length]], `row ${id}`);
  }
  // The package frees a statement left open only when Node exits, after the
  // connection is gone, and unixODBC then reads freed memory.
  await insert.close();
  await select.close();
  await conn.close();
}

q4e2e.run('node_params', main);
