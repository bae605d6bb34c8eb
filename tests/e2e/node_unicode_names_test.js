// Node.js with the npm package "odbc": a table and its columns named with
// accents, CJK and a character outside the BMP, read back through the result's
// column list (SQLDescribeCol), the catalog (SQLTables, SQLColumns) and an
// error's message. Without the module the test reports itself skipped.
'use strict';
const assert = require('assert');
const q4e2e = require('./q4e2e');

const TABLE = 'Città_東京';
const COLUMNS = ['prénom', '名前', 'x😀'];

async function main() {
  const conn = await q4e2e.connect();
  await conn.query(`
    CREATE TABLE "${TABLE}" (
      "${COLUMNS[0]}" VARCHAR(20),  -- accents
      "${COLUMNS[1]}" INTEGER,      -- CJK
      "${COLUMNS[2]}" VARCHAR(5)    -- a surrogate pair
    )`);
  await conn.query(`INSERT INTO "${TABLE}" VALUES (?, ?, ?)`, ['Zoë Ærø 東京 😀', 7, null]);

  const rows = await conn.query(`SELECT * FROM "${TABLE}"`);
  assert.deepStrictEqual(rows.columns.map((c) => c.name), COLUMNS);
  assert.deepStrictEqual(rows[0], {[COLUMNS[0]]: 'Zoë Ærø 東京 😀', [COLUMNS[1]]: 7, [COLUMNS[2]]: null});

  const tables = await conn.tables(null, null, TABLE, null);
  assert.deepStrictEqual(tables.map((t) => t.TABLE_NAME), [TABLE]);
  const columns = await conn.columns(null, null, TABLE, null);
  assert.deepStrictEqual(columns.map((c) => c.COLUMN_NAME), COLUMNS);

  await assert.rejects(conn.query('SELECT * FROM "Città_missing_😀"'), (error) => {
    assert.strictEqual(error.odbcErrors[0].state, '42S02');
    assert.match(error.odbcErrors[0].message, /Base table not found/);
    return true;
  });
  await conn.close();
}

q4e2e.run('node_unicode_names_test', main);
