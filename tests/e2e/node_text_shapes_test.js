// Node.js with the npm package "odbc" (see node_params_test.js): queries with
// parameters written the way JavaScript code writes them, as multi-line
// template strings, after a comment, with question marks inside quotes and
// comments. Every case runs; the script fails at the end if any did.
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
  await conn.query('CREATE TABLE notes (k INTEGER, note VARCHAR(200), memo TEXT)');
  const rows = [[1, TEXT, 'x'.repeat(50000)], [2, '', null], [3, null, "it's"]];
  await check('multi-line insert with parameters', async () => {
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

q4e2e.run('node_text_shapes', main);
