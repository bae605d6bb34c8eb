// Node.js with the npm package "odbc" through unixODBC against the sample
// database served by run_script.sh as $Q4_DSN: statement texts as JavaScript
// code writes them (multi-line template strings that start with a newline or a
// comment, "?" inside literals and comments that are no markers), through
// conn.query and through prepared statements, with values people have (NULLs,
// empty strings, accents and emoji, apostrophes, 50,000-character text). The
// package asks SQLNumParams and SQLDescribeParam for every marker and binds by
// their answer. Every case runs; the script fails at the end if any did.
'use strict';
const assert = require('assert');
const q4e2e = require('./q4e2e');

const TEXT = 'Zoë Ærø 東京 😀';
const SHAPES = {
  'multi-line template string': `
    SELECT id, name
      FROM customers
     WHERE id = ?
  `,
  'leading line comment': '-- the second customer\nSELECT id, name FROM customers WHERE id = ?',
  'leading block comment': "/* it's the second */\nSELECT id, name FROM customers WHERE id = ?",
  'leading tab and CR LF': '\t\r\nSELECT id, name FROM customers WHERE id = ?',
  'marks in quotes and comments':
    "SELECT id, name /* ? */ FROM customers WHERE name <> '?' AND id = ? -- or ?",
};

// Runs `sql` prepared once for each row, each inserting one; the statement is
// closed after (the package frees a statement left open only when Node exits,
// after the connection is gone, and unixODBC then reads freed memory).
async function insertEach(conn, sql, rows) {
  const insert = await conn.createStatement();
  await insert.prepare(sql);
  for (const row of rows) {
    await insert.bind(row);
    assert.strictEqual((await insert.execute()).count, 1, `row ${row[0]} inserted`);
  }
  await insert.close();
}

async function main() {
  const conn = await q4e2e.connect();
  const failures = [];
  const check = async (label, run) => {
    try {
      await run();
      console.log('ok:', label);
    } catch (error) {
      failures.push(label);
      console.log('FAIL:', label, '--', error.message, JSON.stringify(error.odbcErrors || ''));
    }
  };

  const want = [...await conn.query('SELECT id, name FROM customers WHERE id = 2')];
  for (const [label, sql] of Object.entries(SHAPES)) {
    await check(`query, ${label}`, async () => assert.deepStrictEqual([...await conn.query(sql, [2])], want));
    await check(`prepared statement, ${label}`, async () => {
      const statement = await conn.createStatement();
      await statement.prepare(sql);
      await statement.bind([2]);
      assert.deepStrictEqual([...await statement.execute()], want);
      await statement.close();
    });
  }

  await check('text longer than declared, markers among literals', async () => {
    await conn.query(`
      CREATE TABLE node_text (
        id INTEGER NOT NULL, name VARCHAR(40), amount DECIMAL(10,2), born DATE
      )`);
    // A NULL number goes last: the package keeps its NULL indicator for the
    // later rows of a number parameter (its own doing, whatever the driver).
    const rows = [
      [1, TEXT, 1234.5, '2024-03-05'],
      [2, "O'Brien? yes", -0.25, null],
      // Longer than the column's declared 40: the description does not cut it.
      [3, 'x'.repeat(300), 12.34, '2000-02-29'],
      [4, null, null, '1999-12-31'],
    ];
    await insertEach(conn, 'INSERT INTO node_text (id, name, amount, born) VALUES (?, ?, ?, ?)', rows);
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
  });

  await check('multi-line insert through conn.query', async () => {
    await conn.query('CREATE TABLE notes (k INTEGER, note VARCHAR(200), memo TEXT)');
    const rows = [[1, TEXT, 'x'.repeat(50000)], [2, '', null], [3, null, "it's"]];
    for (const row of rows) {
      const result = await conn.query(`
        -- one note per row
        INSERT INTO notes (k, note, memo)
        VALUES (?, ?, ?)`, row);
      assert.strictEqual(result.count, 1);
    }
    const got = await conn.query('SELECT k, note, memo FROM notes ORDER BY k');
    assert.deepStrictEqual(got.map((r) => [r.k, r.note, r.memo]), rows);
  });

  await conn.close();
  if (failures.length) throw new Error(`${failures.length} case(s) failed`);
}

q4e2e.run('node_statements', main);
