# Writes the month's figures into the report.

# Document variables shown by the template's fields (function 3).
@Company=3;CompanyName
SELECT name || ', ' || city FROM company

@Period=3;Period
SELECT '&Month'

@Total=3;TotalAmount
SELECT printf('%.2f', coalesce(sum(amount), 0)) FROM month_orders

# Table 1, filled in place and transposed: one record down column 2.
@Summary=1;1;1;2;1
SELECT coalesce(sum(amount), 0),
       count(*),
       coalesce(avg(amount), 0),
       coalesce(max(order_date), '')
FROM month_orders

# Table 2 grows to one row per region.
@Regions=2;2;2;1
SELECT region_name,
       count(*),
       sum(amount),
       sum(amount) / (SELECT sum(amount) FROM month_orders),
       avg(discount),
       max(order_date)
FROM month_orders
GROUP BY region_name
ORDER BY sum(amount) DESC

# Table 3 grows by columns: one column per week of the month.
@Weeks=2;3;1;2;1
SELECT min(order_date), count(*), sum(amount)
FROM month_orders
GROUP BY strftime('%W', order_date)
ORDER BY 1
