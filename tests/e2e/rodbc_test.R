# R with RODBC (Debian's r-cran-rodbc) and its default settings against the
# sample database served by run_script.sh as $Q4_DSN: statement text of any
# shape, a large query read whole, data frames saved and updated through
# prepared statements, a 30-digit decimal read as text. Every check runs; the
# script fails at the end if any did.
if (!requireNamespace("RODBC", quietly = TRUE)) {
  cat("SKIPPED: RODBC is missing (r-cran-rodbc)\n")
  quit(status = 77)
}
library(RODBC)

failures <- 0
check <- function(label, got, want) {
  if (isTRUE(all.equal(got, want, check.attributes = FALSE))) {
    cat("ok:", label, "\n")
  } else {
    failures <<- failures + 1
    cat("FAIL:", label, "\n  got: ", paste(capture.output(str(got)), collapse = "\n  "),
        "\n  want:", paste(capture.output(str(want)), collapse = "\n  "), "\n")
  }
}
# A query's result, or its error messages as RODBC returns them.
query <- function(sql, ...) invisible(sqlQuery(ch, sql, stringsAsFactors = FALSE, ...))

ch <- odbcConnect(Sys.getenv("Q4_DSN"), uid = "test", pwd = "secret")
TEXT <- "Zoë Ærø 東京 😀"

# Statement text as people write it: a leading newline, comments, tabs.
second <- query("SELECT id, name FROM customers WHERE id = 2")
shapes <- c(newline = "\nSELECT id, name\n  FROM customers\n WHERE id = 2\n",
            comment = "-- the second customer\nSELECT id, name FROM customers WHERE id = 2",
            block = "\t/* which one? */\r\nSELECT id, name FROM customers WHERE id = 2")
for (shape in names(shapes)) check(paste("query starting with a", shape), query(shapes[[shape]]), second)

# A data frame saved and updated: RODBC prepares INSERT and UPDATE with
# markers and binds each value.
frame <- data.frame(id = 1:4, name = c(TEXT, "O'Brien", "", NA),
                    amount = c(1234.5, -0.25, NA, 0),
                    memo = c(strrep("long text ", 5000), "a", NA, ""), stringsAsFactors = FALSE)
check("sqlSave of a data frame", sqlSave(ch, frame, tablename = "saved", rownames = FALSE,
                                         varTypes = c(memo = "TEXT")), 1)
check("sqlFetch reads the saved frame back", sqlFetch(ch, "saved", stringsAsFactors = FALSE), frame)
renamed <- frame[2, ]
renamed$name <- "Ó Briain"
check("sqlUpdate of one row", sqlUpdate(ch, renamed, tablename = "saved", index = "id"), 1)
check("the updated row", query("\n-- after the update\nSELECT name FROM saved WHERE id = 2")$name,
      "Ó Briain")

# A query of 100,000 rows is read whole with RODBC's defaults (it sizes its
# read by the driver's row count).
query(paste("CREATE TABLE big (k INTEGER, a VARCHAR(20), b DOUBLE, c DATE, d VARCHAR(40),",
            "e INTEGER)"))
query(paste("WITH RECURSIVE n(k) AS (SELECT 1 UNION ALL SELECT k + 1 FROM n WHERE k < 100000)",
            "INSERT INTO big SELECT k, 'row ' || k, k / 7.0, '2024-03-05', '", TEXT, "', k % 13",
            "FROM n"))
big <- query("SELECT * FROM big")
check("rows of a 100,000-row query", nrow(big), 100000L)
check("its last key", if (is.data.frame(big)) max(big$k) else NA, 100000L)

# A 30-digit decimal read as text keeps every digit.
query("CREATE TABLE exact (k INTEGER, v NUMERIC(30,10))")
query("INSERT INTO exact VALUES (1, 12345678901234567890.0123456789), (2, -0.0000000001)")
check("numeric(30,10) read as text", query("SELECT v FROM exact ORDER BY k", as.is = TRUE)$v,
      c("12345678901234567890.0123456789", "-0.0000000001"))

close(ch)
if (failures > 0) {
  cat(failures, "check(s) failed\n")
  quit(status = 1)
}
cat("rodbc: ok\n")
