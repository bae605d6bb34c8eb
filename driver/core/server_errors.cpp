#include "core/server_errors.h"

#include "core/diagnostics.h"

namespace q4 {

namespace {

// Indexed by the server's error number. Rows 38 and 39 have no text (the
// diagnostic is the prefix alone); rows 59, 67, 72 and 87 end in a tab that
// belongs to the message.
constexpr DiagText kServerErrors[kServerErrorCount] = {
    /*   0 */ {"S0022", "Column not found"},
    /*   1 */ {"S0022", "Column not found"},
    /*   2 */ {"S1000", "Column name is ambiguous"},
    /*   3 */ {"S0002", "Base table not found"},
    /*   4 */ {"S1000", "MORE_THAN_ONE_PRIMARY_KEY"},
    /*   5 */ {"S1000", "ERR_NUMBER_UNION_COLUMNS"},
    /*   6 */ {"S1000", "ERR_UNION_COLUMNS_TYPES"},
    /*   7 */ {"S1000", "TYPE_MISMATCH_IN_IN_LIST"},
    /*   8 */ {"S1000", "NESTED_FUNCTION"},
    /*   9 */ {"S1000", "NONGROUPPED_COLUMN"},
    /*  10 */ {"S1000", "NONGROUPPED_OUTER_REFERENCE"},
    /*  11 */ {"S1000", "TYPE_MISMATCH"},
    /*  12 */ {"S1000", "NON_SINGLE_COLUMN_IN_SUBQUERY"},
    /*  13 */ {"S1000", "ATTRIBUTE_DUPLICATION"},
    /*  14 */ {"S1000", "COLUMN_NUMBER_DIFFERENT"},
    /*  15 */ {"S1000", "COLUMN_NOT_DEFINED"},
    /*  16 */ {"S1000", "UNIQUES_WITHOUT_NOTNULL"},
    /*  17 */ {"S1000", "ORDERBY_SELECT_MISMATCH"},
    /*  18 */ {"S1000", "BAD_CATALOG"},
    /*  19 */ {"S1000", "ARGUMENT_ERROR"},
    /*  20 */ {"S1000", "BAD_DICTIONARY"},
    /*  21 */ {"S1000", "BAD_COLUMN_TYPE"},
    /*  22 */ {"S1000", "UNION_ORDERBY_MISMATCH"},
    /*  23 */ {"S1000", "ILLEGAL_FUNCTION_USAGE"},
    /*  24 */ {"S1000", "BAD_FILE_NAME"},
    /*  25 */ {"S1000", "RUNTIME_ERROR"},
    /*  26 */ {"37000", "Syntax error"},
    /*  27 */ {"S1000", "CANNOT_CREATE_FILE"},
    /*  28 */ {"S1000", "FILE_NOT_CLOSED"},
    /*  29 */ {"S0002", "Base table not found"},
    /*  30 */ {"S1000", "CANNOT_DELETE_ITEM"},
    /*  31 */ {"S1000", "DUPLICATION_OF_COLUMN_IN_SET"},
    /*  32 */ {"S1000", "BAD_REFERENCED_COLUMNS_LIST"},
    /*  33 */ {"S1000", "NOT_SINGLE_STATEMENT_EMBEDDED"},
    /*  34 */ {"S1000", "REPEATING_COLUMN_IN_LIST"},
    /*  35 */ {"S1000", "NON_UPDATABLE_COLUMN"},
    /*  36 */ {"21S01", "Different dimensions"},
    /*  37 */ {"S1000", "DUPLICATED_CURSORS"},
    /*  38 */ {"S1000", ""},
    /*  39 */ {"S1000", ""},
    /*  40 */ {"S0011", "Index already exists"},
    /*  41 */ {"S0012", "Index not found"},
    /*  42 */ {"S1000", "INDEX_26_MISSING"},
    /*  43 */ {"S1000", "INDEX_NOT_EXISTING"},
    /*  44 */ {"S1000", "INDEX_NAME_REPEATED"},
    /*  45 */ {"S1000", "SQL_INVALID_CURSOR"},
    /*  46 */ {"S1000", "MULTIPLE_CONTROL"},
    /*  47 */ {"S1000", "Missing row of nested parent"},
    /*  48 */ {"S1000", "PRIMARY_KEY_CONFLICT"},
    /*  49 */ {"S1000", "Illegal to update a primary or nested key"},
    /*  50 */ {"S1000", "Q4_FILE_ALREADY_EXISTS"},
    /*  51 */ {"S0001", "Base table already exists"},
    /*  52 */ {"S1000", "PARENTPK_NOT_EQL_NESTEDKEY"},
    /*  53 */ {"S1000", "CANNOT_OPEN_FILE"},
    /*  54 */ {"S1000", "CANNOT_OPEN_PARENT_TABLE"},
    /*  55 */ {"S1000", "NESTED_KEY_NOT_IN_PARENT"},
    /*  56 */ {"S1000", "NESTKEY_NOT_EQL_N_MINUS1_PK"},
    /*  57 */ {"S1000", "TABLE_DOES_NOT_EXIST"},
    /*  58 */ {"S1000", "INVALID_TARNFILE_SPECIFIED"},
    /*  59 */ {"S1000", "Q4_FILE_ALREADY_DELETED\t"},
    /*  60 */ {"S1000", "Q4_FILE_DOES_NOT_EXIST"},
    /*  61 */ {"42000", "Access violation"},
    /*  62 */ {"S1000", "Probable deadlock detected"},
    /*  63 */ {"S1000", "BAD_ALTER_CONSTRAINT"},
    /*  64 */ {"S0021", "Column already exists"},
    /*  65 */ {"S1000", "DUP_COUNTERS"},
    /*  66 */ {"S1000", "SQL_TABLE_REQUIRED"},
    /*  67 */ {"S1000", "CANNOT_UPDATE_SYNONYM\t"},
    /*  68 */ {"S1000", "HAVING_WITHOUT_GROUP_BY"},
    /*  69 */ {"S1000", "MUST_HAVE_AT_LEAST_ONE_COL"},
    /*  70 */ {"23000", "Constraint failure"},
    /*  71 */ {"S1000", "EXCEEDED_MAX_NESTING_LEVEL"},
    /*  72 */ {"S1000", "COLNAME_CANNOT_BE_TABLENAME\t"},
    /*  73 */ {"S1000", "Value of a controller column must be non-null"},
    /*  74 */ {"S1000", "UNQ_OR_FOREIGN_IN_THIRD_LVL"},
    /*  75 */ {"S1000", "TYPE_MISMATCH_IN_REFERENCE"},
    /*  76 */ {"S1000", "TABLE_REFERENCED_ITSELF"},
    /*  77 */ {"S1000", "TBL_IN_REF_CONSTRAINT"},
    /*  78 */ {"S1000", "CONST_DEFINED_IN_NESTING"},
    /*  79 */ {"S1000", "REF_TBL_AT_THRD_LVL_NESTING"},
    /*  80 */ {"S1000", "INDEX_NAME_ALREADY_EXISTS"},
    /*  81 */ {"S1000", "BAD_INDEX_NAME"},
    /*  82 */ {"S1000", "CANNOT_DELETE_SYS_IDX"},
    /*  83 */ {"S1000", "INDEX_ALREADY_EXISTS"},
    /*  84 */ {"S1000", "CANNOT_DELETE_CONS_IDX"},
    /*  85 */ {"S1000", "DUPLICATE_CONSTRAINT"},
    /*  86 */ {"S1000", "DUPLICATE_CONSTRAINT_NAME"},
    /*  87 */ {"S1000", "INVALID_CONSTRAINT_NAME\t"},
    /*  88 */ {"S1000", "ALTER_PK_NESTED_CONSTRAINT"},
    /*  89 */ {"S1000", "CONSTRAINT_DOES_NOT_EXIST"},
    /*  90 */ {"S1000", "CONST_NAME_TO_DROP_INVALID"},
    /*  91 */ {"S1000", "UNQ_CONST_USED_BY_REF"},
    /*  92 */ {"S1000", "CURSOR_FILE_MISMATCH"},
    /*  93 */ {"S1000", "Views are read-only"},
    /*  94 */ {"S1000", "The structure of a view table cannot be modified with this statement."},
    /*  95 */ {"S1000", "Unknown error"},
    /*  96 */ {"S1000", "Unable to drop table/view with this statement."},
    /*  97 */ {"S1000", "Unknown error"},
    /*  98 */ {"S1000", "Function is not supported"},
    /*  99 */ {"S1000", "Query aborted - can't close file"},
    /* 100 */ {"S1000", "Query aborted - out of memory"},
    /* 101 */ {"S1000", "Query aborted - can't open file"},
    /* 102 */ {"S1000", "Query aborted - can't close file"},
    /* 103 */ {"S1000", "Query aborted - can't select file"},
    /* 104 */ {"S1000", "Query aborted - can't read item"},
    /* 105 */ {"S1000", "Query aborted - end of select list not reached"},
    /* 106 */ {"S1000", "Query aborted - extraction error"},
    /* 107 */ {"S1000", "Query aborted - unknown data type"},
    /* 108 */ {"S1000", "Query aborted - bad argument for operation"},
    /* 109 */ {"S1000", "Query aborted - non-numeric value encountered when numeric required"},
    /* 110 */
    {"S1000", "Query aborted - subquery selected not a scalar value when scalar required"},
    /* 111 */ {"S1000", "Query aborted - can't write item"},
    /* 112 */ {"S1000", "Query aborted - catalog item already exists"},
    /* 113 */ {"S1000", "Query aborted - bad conversion type"},
    /* 114 */ {"S1000", "Query aborted - catalog item does not exist"},
    /* 115 */ {"S1000", "Query aborted - can't delete item"},
    /* 116 */ {"S1000", "Quit signal"},
    /* 117 */ {"S1000", "Query aborted due to bad conversion"},
    /* 118 */ {"S1000", "Cannot drop the catalog entry"},
    /* 119 */ {"S1000", "Q4 files must be created in / deleted from current account"},
    /* 120 */ {"S1000", "Cannot create an index on column of this datatype"},
    /* 121 */ {"S1000", "Cannot insert/update columns of this datatype"},
    /* 122 */ {"S1000", "Unknown error"},
};

// A value the server refused to store: q4lite checks that the text stored
// in a DATE, TIME or TIMESTAMP column is one, and names the refusal by the
// SQLSTATE an application expects for it. The number lies far past the
// table, where no Q4 server's numbers reach; every other number past the
// table is still its last row.
struct ValueError {
  unsigned number;
  DiagText row;
};
constexpr ValueError kValueErrors[] = {
    {kDatetimeFormatErrorNumber, {"22007", "Invalid datetime format"}},
};

// Digits beyond these are no number of either table; accumulating stops
// before the value could wrap.
constexpr unsigned kLargestNumber = 99999;

}  // namespace

unsigned server_error_number(const char* text) {
  if (text == nullptr || *text < '0' || *text > '9') return kRuntimeErrorNumber;
  unsigned number = 0;
  for (const char* p = text; *p >= '0' && *p <= '9'; ++p) {
    number = number * 10 + static_cast<unsigned>(*p - '0');
    // Anything past both tables, however long, lands on the last row.
    if (number > kLargestNumber) return kServerErrorCount - 1;
  }
  if (number < kServerErrorCount) return number;
  for (const ValueError& e : kValueErrors) {
    if (e.number == number) return number;
  }
  return kServerErrorCount - 1;
}

const DiagText& server_error_row(unsigned number) {
  if (number < kServerErrorCount) return kServerErrors[number];
  for (const ValueError& e : kValueErrors) {
    if (e.number == number) return e.row;
  }
  return kServerErrors[kServerErrorCount - 1];
}

SQLRETURN map_server_error(Statement* stmt, const char* text) {
  return post_error(stmt, server_error_row(server_error_number(text)));
}

}  // namespace q4
