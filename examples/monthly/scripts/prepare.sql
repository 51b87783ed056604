# Prepares the month's figures in work tables (statement function 0).
# The parameter &Month comes from the configuration's [PARAMETER] section,
# or from the command line: vantrelle -C -F report.ini 2004-06

@Clear=0
DROP TABLE IF EXISTS month_orders

@Select=0
CREATE TABLE month_orders AS
  SELECT o.*, r.name AS region_name
  FROM orders o JOIN region r ON r.code = o.region
  WHERE substr(o.order_date, 1, 7) = '&Month'   # only the report's month
