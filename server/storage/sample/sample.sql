-- The q4lite sample database: customers, products, orders and order lines,
-- covering every type q4lite sends (INTEGER, SMALLINT, CHAR, VARCHAR,
-- NUMERIC, DATE, TIME, TIMESTAMP, VARBINARY, LONGVARBINARY; BIGINT travels
-- as NUMERIC). Every value is computed from row numbers, so the database is
-- the same on every run.
PRAGMA foreign_keys = ON;
BEGIN;

CREATE TABLE customers (
  id           INTEGER PRIMARY KEY,
  name         VARCHAR(40) NOT NULL,
  country      CHAR(2) NOT NULL,
  credit_limit NUMERIC(10,2),
  since        DATE,
  rating       SMALLINT,
  badge        VARBINARY(16)
);

CREATE TABLE products (
  id        INTEGER PRIMARY KEY,
  code      CHAR(8) NOT NULL UNIQUE,
  title     VARCHAR(60) NOT NULL,
  price     NUMERIC(8,2) NOT NULL,
  weight_kg REAL,
  stock     BIGINT,
  datasheet BLOB
);

CREATE TABLE orders (
  id          INTEGER PRIMARY KEY,
  customer_id INTEGER NOT NULL REFERENCES customers(id),
  ordered_at  TIMESTAMP NOT NULL,
  ship_date   DATE,
  ship_time   TIME,
  status      CHAR(1) NOT NULL,
  note        VARCHAR(200)
);

CREATE TABLE order_lines (
  order_id   INTEGER NOT NULL REFERENCES orders(id),
  line_no    SMALLINT NOT NULL,
  product_id INTEGER NOT NULL REFERENCES products(id),
  quantity   INTEGER NOT NULL,
  amount     NUMERIC(10,2) NOT NULL,
  PRIMARY KEY (order_id, line_no)
);

CREATE INDEX orders_by_customer ON orders(customer_id, ordered_at DESC);
CREATE INDEX lines_by_product ON order_lines(product_id);

WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 500)
INSERT INTO customers
SELECT i,
       (CASE i % 7 WHEN 0 THEN 'Ashford' WHEN 1 THEN 'Brennan' WHEN 2 THEN 'Castell'
                   WHEN 3 THEN 'Dalby' WHEN 4 THEN 'Ellery' WHEN 5 THEN 'Fenwick'
                   ELSE 'Garrow' END) || ' & Sons ' || i,
       (CASE i % 5 WHEN 0 THEN 'US' WHEN 1 THEN 'DE' WHEN 2 THEN 'FR' WHEN 3 THEN 'JP'
                   ELSE 'BR' END),
       CASE WHEN i % 11 = 0 THEN NULL ELSE (i * 37 % 900 + 100) * 25.5 END,
       date('2015-01-01', '+' || (i * 13 % 3000) || ' days'),
       i % 5 + 1,
       CASE WHEN i % 4 = 0 THEN NULL ELSE CAST(printf('%08X%08X', i * 2654435761 % 4294967296, i) AS BLOB) END
FROM n;

WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 200)
INSERT INTO products
SELECT i,
       printf('P%07d', i * 7),
       (CASE i % 4 WHEN 0 THEN 'Bolt' WHEN 1 THEN 'Bracket' WHEN 2 THEN 'Hinge' ELSE 'Valve' END)
         || ' type ' || (i % 13) || '-' || i,
       round((i * 7919 % 50000) / 100.0 + 0.99, 2),
       CASE WHEN i % 9 = 0 THEN NULL ELSE (i % 50) * 0.125 + 0.05 END,
       i * 1000000007,
       CASE WHEN i % 10 = 0 THEN zeroblob(3000 + i) ELSE CAST(printf('DS-%04X', i) AS BLOB) END
FROM n;

WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 5000)
INSERT INTO orders
SELECT i,
       i * 17 % 500 + 1,
       datetime('2022-01-01 08:00:00', '+' || (i * 97 % 1000) || ' days',
                '+' || (i * 7919 % 36000) || ' seconds'),
       CASE WHEN i % 6 = 0 THEN NULL
            ELSE date('2022-01-03', '+' || (i * 97 % 1000) || ' days') END,
       CASE WHEN i % 6 = 0 THEN NULL
            ELSE time('06:00:00', '+' || (i * 613 % 43200) || ' seconds') END,
       substr('NPSDC', i % 5 + 1, 1),
       CASE WHEN i % 3 = 0 THEN 'Deliver to the back door, ring twice (order ' || i || ')'
            ELSE NULL END
FROM n;

WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 15000)
INSERT INTO order_lines
SELECT (i - 1) / 3 + 1,
       (i - 1) % 3 + 1,
       i * 31 % 200 + 1,
       i % 9 + 1,
       0
FROM n;

UPDATE order_lines
   SET amount = quantity * (SELECT price FROM products WHERE products.id = order_lines.product_id);

CREATE VIEW order_totals AS
SELECT o.id AS order_id, c.name AS customer, o.ordered_at, SUM(l.amount) AS total
  FROM orders o JOIN customers c ON c.id = o.customer_id
  JOIN order_lines l ON l.order_id = o.id
 GROUP BY o.id;

COMMIT;
