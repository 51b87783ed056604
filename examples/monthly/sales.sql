-- The sample database of the example report: a small company's orders.
CREATE TABLE company (name TEXT NOT NULL, city TEXT NOT NULL);
INSERT INTO company VALUES ('Northwind Garden Supplies', 'Lyon');

CREATE TABLE region (code TEXT PRIMARY KEY, name TEXT NOT NULL);
INSERT INTO region VALUES ('N', 'North'), ('S', 'South'), ('E', 'East'), ('W', 'West'), ('C', 'Central');

CREATE TABLE orders (
  id INTEGER PRIMARY KEY,
  region TEXT NOT NULL REFERENCES region(code),
  order_date TEXT NOT NULL,        -- YYYY-MM-DD
  amount NUMERIC NOT NULL,
  discount REAL                    -- share of the list price, NULL when none
);

-- Orders for May and June 2004, spread over the regions and the weeks.
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 240)
INSERT INTO orders (region, order_date, amount, discount)
SELECT substr('NSEWCNNSEW', (i % 10) + 1, 1),
       date('2004-05-01', '+' || ((i * 7) % 61) || ' days'),
       round(((i * 37) % 1000) * 1.75 + 120.5, 2),
       CASE WHEN i % 4 = 0 THEN NULL ELSE ((i * 13) % 20) / 100.0 END
FROM n;
