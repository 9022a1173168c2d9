#include "import/column_mapping.h"

#include <gtest/gtest.h>

#include "dbengine/dao.h"
#include "import/import_errors.h"
#include "support/raised_error.h"

namespace tabsync::import {
namespace {

SourceColumn Column(int type, int size = 0) {
  SourceColumn column;
  column.name = "C";
  column.type = type;
  column.size = size;
  return column;
}

TEST(ColumnMappingTest, EachJetTypeGetsItsDeclaredType) {
  SourceColumn counter = Column(jet::kLong, 4);
  counter.auto_number = true;
  SourceColumn required = Column(jet::kText, 20);
  required.required = true;
  SourceColumn decimal = Column(jet::kDecimal, 17), calculated = Column(jet::kDecimal, 39);
  decimal.precision = 18;
  decimal.scale = 4;
  calculated.calculated = true;  // of the precision and scale its values need
  calculated.precision = 39;
  calculated.scale = 28;
  const std::pair<SourceColumn, const char*> cases[] = {
      {Column(jet::kBoolean), "BIT NOT NULL"},
      {Column(jet::kByte, 1), "TINYINT UNSIGNED BYTE"},
      {Column(jet::kInteger, 2), "SMALLINT SHORT"},
      {Column(jet::kLong, 4), "INTEGER LONG"},
      {counter, "INTEGER COUNTER"},
      {Column(jet::kCurrency, 8), "NUMERIC CURRENCY"},
      {Column(jet::kSingle, 4), "NUMERIC SINGLE"},
      {Column(jet::kDouble, 8), "DOUBLE"},
      {Column(jet::kDateTime, 8), "DATETIME"},
      {Column(jet::kText, 50), "VARCHAR TEXT(50) COLLATE NOCASE"},
      {Column(jet::kText, 0), "VARCHAR TEXT(255) COLLATE NOCASE"},
      {required, "VARCHAR TEXT(20) COLLATE NOCASE NOT NULL"},
      {Column(jet::kMemo), "MEMO TEXT COLLATE NOCASE"},
      {Column(jet::kOle), "LONGVARBINARY LONGBINARY"},
      {Column(jet::kBinary, 16), "LONGVARBINARY LONGBINARY"},
      {Column(jet::kGuid, 16), "VARCHAR TEXT(38) COLLATE NOCASE"},
      {decimal, "VARCHAR DECIMAL(18,4)"},
      {calculated, "VARCHAR DECIMAL(39,28)"},
      {Column(jet::kBigInt, 8), "BIGINT LARGENUMBER"},
      {Column(jet::kDateTimeExtended, 42), "DATETIME EXTENDED"},
  };
  for (const auto& [column, declared] : cases) {
    ColumnPlan plan = PlanColumn(column);
    EXPECT_EQ("", plan.refusal) << declared;
    EXPECT_EQ(declared, dao::DeclaredTypeFor(plan.column) + (plan.not_null ? " NOT NULL" : "")) << column.type;
  }
}

TEST(ColumnMappingTest, WhatTheFormatCannotHoldIsRefusedByWhatItIs) {
  SourceColumn decimal = Column(jet::kDecimal, 17);
  decimal.precision = 60;
  SourceColumn attachments = Column(jet::kComplex, 4), unknown = Column(jet::kComplex, 4);
  attachments.complex = ComplexKind::kAttachments;
  unknown.complex = ComplexKind::kUnknown;
  const std::pair<SourceColumn, const char*> cases[] = {
      {attachments, "a complex column (attachments) in a table without a primary key"},
      {unknown, "a complex column of an unknown kind"},
      {decimal, "a Decimal column of precision 60 and scale 0"},
      {Column(0x11, 4), "a column of the unknown type 17"},
  };
  for (const auto& [column, refusal] : cases) EXPECT_EQ(refusal, PlanColumn(column).refusal);
}

// Calculated columns keep their values as a column of their result type;
// complex columns go elsewhere (attachments, multiple values) or are not
// kept (a version history).
TEST(ColumnMappingTest, CalculatedAndComplexColumnsAreWrittenOrOmittedWithAWarning) {
  SourceColumn text = Column(jet::kText, 243), boolean = Column(jet::kBoolean);
  text.calculated = boolean.calculated = true;
  text.expression = "[Last] & \", \" & [First]";
  boolean.expression = "[Salary]>100000";
  SourceColumn values = Column(jet::kComplex, 4), history = Column(jet::kComplex, 4);
  values.complex = ComplexKind::kMultipleValues;
  values.detail = "Orders_Colors";
  history.complex = ComplexKind::kVersionHistory;
  history.detail = "Notes";
  struct Case {
    SourceColumn column;
    const char* declared;  // empty: omitted
    const char* warning;
  };
  const Case cases[] = {
      {text, "VARCHAR TEXT(243) COLLATE NOCASE", "a calculated column: its values are kept, its expression '[Last] & \", \" & [First]' is not"},
      {boolean, "BIT", "a calculated column: its values are kept, its expression '[Salary]>100000' is not"},
      {values, "", ""},
      {history, "", "the version history of column 'Notes' is not kept; that column holds its current value"},
  };
  for (const Case& c : cases) {
    ColumnPlan plan = PlanColumn(c.column);
    EXPECT_EQ("", plan.refusal);
    EXPECT_EQ(c.warning, plan.warning);
    EXPECT_EQ(*c.declared == 0, plan.omitted);
    if (*c.declared) {
      EXPECT_EQ(c.declared, dao::DeclaredTypeFor(plan.column) + (plan.not_null ? " NOT NULL" : ""));
    }
  }
}

SourceValue Value(ValueKind kind, int64_t integer, double number = 0, std::string bytes = "") {
  return {kind, integer, number, std::move(bytes)};
}

TEST(ColumnMappingTest, ValuesAreStoredAsTheFormatSays) {
  dao::ColumnType currency{dao::kTypeCurrency, 8, false}, date{dao::kTypeDate, 8, false};
  dao::ColumnType boolean{dao::kTypeBoolean, 1, false}, text{dao::kTypeText, 5, false};
  dao::ColumnType decimal{dao::kTypeDecimal, 16, false, 18, 4};
  dao::ColumnType extended{dao::kTypeDateExtended, 42, false};
  struct Case {
    SourceValue value;
    dao::ColumnType column;
    dao::Variant stored;
  };
  const Case cases[] = {
      {Value(ValueKind::kCurrency, 35000), currency, dao::Variant(3.5)},
      {Value(ValueKind::kCurrency, -1), currency, dao::Variant(-0.0001)},
      {Value(ValueKind::kCurrency, 999999999999999), currency, dao::Variant(99999999999.9999)},
      {Value(ValueKind::kDate, 0, 27293.0), date, dao::Variant::Date("1974-09-21 00:00:00")},
      {Value(ValueKind::kDate, 0, 0.5), date, dao::Variant::Date("1899-12-30 12:00:00")},
      // Jet counts the time forwards from the (negative) day's midnight.
      {Value(ValueKind::kDate, 0, -1.25), date, dao::Variant::Date("1899-12-29 06:00:00")},
      {Value(ValueKind::kDate, 0, -36522.0), date, dao::Variant::Date("1800-01-01 00:00:00")},
      {Value(ValueKind::kDate, 0, 2958465.999988426), date, dao::Variant::Date("9999-12-31 23:59:59")},
      // The time from the fraction: 0.49689236111 of a day is 11:55:31.49999,
      // though 36685.49689236111 times 86400 rounds up.
      {Value(ValueKind::kDate, 0, 36685.49689236111), date, dao::Variant::Date("2000-06-08 11:55:31")},
      {Value(ValueKind::kDate, 0, -1.9999999999), date, dao::Variant::Date("1899-12-30 00:00:00")},
      {Value(ValueKind::kInteger, 1), boolean, dao::Variant(true)},
      {Value(ValueKind::kInteger, 0), boolean, dao::Variant(false)},
      {Value(ValueKind::kText, 0, 0, "äöü"), text, dao::Variant("äöü")},
      {Value(ValueKind::kDecimal, 0, 0, "-12.345"), decimal, dao::Variant::Decimal("-12.3450")},
      {Value(ValueKind::kExtendedDate, 0, 0, "0001-01-01 00:00:00.0000001"), extended,
       dao::Variant::Date("0001-01-01 00:00:00.0000001")},
      {Value(ValueKind::kNull, 0), text, dao::Variant()},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.stored, ConvertValue(c.value, c.column)) << c.stored.ToText();
}

TEST(ColumnMappingTest, ValuesThatCannotBeStoredExactlyAreRefused) {
  dao::ColumnType currency{dao::kTypeCurrency, 8, false}, date{dao::kTypeDate, 8, false};
  dao::ColumnType text{dao::kTypeText, 3, false}, decimal{dao::kTypeDecimal, 16, false, 4, 2};
  EXPECT_EQ("a Currency value of 100,000,000,000 or more", test::ExpectError(errors::kUnsupported, [&] {
              ConvertValue(Value(ValueKind::kCurrency, -1000000000000000), currency);
            }));
  EXPECT_EQ("a date outside the years 100 to 9999", test::ExpectError(errors::kUnsupported, [&] {
              ConvertValue(Value(ValueKind::kDate, 0, 3e6), date);
            }));
  EXPECT_EQ("text that cannot be decoded", test::ExpectError(errors::kUnsupported, [&] {
              ConvertValue(Value(ValueKind::kUndecodable, 0), text);
            }));
  test::ExpectError(3421, [&] { ConvertValue(Value(ValueKind::kDecimal, 0, 0, "1,5"), decimal); });
  test::ExpectError(3349, [&] { ConvertValue(Value(ValueKind::kDecimal, 0, 0, "100"), decimal); });
  test::ExpectError(3163, [&] { ConvertValue(Value(ValueKind::kText, 0, 0, "four"), text); });
}

}  // namespace
}  // namespace tabsync::import
