#include "engine/content_corrections.h"

#include <cstdint>
#include <memory>

namespace tabsync::engine {
namespace {

// A record set that is closed however the correction ends, so that a failed
// correction releases it before the run goes on.
class OpenSet {
 public:
  OpenSet(dao::Database& database, const std::string& sql)
      : set_(database.OpenRecordset(sql, dao::kDynaset)) {}
  ~OpenSet() {
    try {
      set_->Close();
    } catch (const Error&) {
      // The set of a failed correction may no longer close; the failure that
      // ended the correction is the one the run reports.
    }
  }
  OpenSet(const OpenSet&) = delete;
  OpenSet& operator=(const OpenSet&) = delete;

  dao::Recordset* operator->() { return set_.get(); }

 private:
  std::unique_ptr<dao::Recordset> set_;
};

// The condition on the string identifiers of the obsolete range, written for
// the type of the ID column.
std::string ObsoleteStringCondition(UpdateContext& context) {
  dao::TableDef& table = context.ExistingDatabase().TableDefs().Item("StringTable");
  if (table.Fields().Item("ID").Type() == dao::kTypeText)
    return "WHERE (ID > '13099') And (ID < '13209')";
  return "WHERE (ID > 13099) And (ID < 13209)";
}

}  // namespace

void ReplaceJobManagementFeature(UpdateContext& context) {
  OpenSet features(context.ExistingDatabase(),
                   "SELECT Feature FROM Services WHERE Feature = 'Jobmanagement'");
  if (features->RecordCount() == 0) return;
  bool changed = false;
  features->MoveFirst();
  while (!features->Eof()) {
    features->Edit();
    features->Fields().Item(0).SetValue("OnlineShop");
    features->Update(dao::kUpdateRegular, false);
    changed = true;
    features->MoveNext();
  }
  if (changed) {
    context.WriteLog(
        "  REPLACE CONTENT tables 'AccessPrivileges', 'Services': 'JobManagement' -> "
        "'OnlineShop'");
  }
}

void AddGuestLogonPrivilege(UpdateContext& context) {
  OpenSet privilege(context.ExistingDatabase(),
                    "SELECT GroupID, ID FROM AccessPrivileges WHERE GroupID=5 AND ID=12");
  if (privilege->RecordCount() != 0) return;
  privilege->AddNew();
  privilege->Fields().Item(0).SetValue(static_cast<int>(int16_t{5}));
  privilege->Fields().Item(1).SetValue(static_cast<int>(int16_t{12}));
  privilege->Update(dao::kUpdateRegular, false);
  context.WriteLog(" ADD RECORD in AccessPrivileges: Guest=Logon");
}

void DeleteObsoleteStrings(UpdateContext& context) {
  std::string condition = ObsoleteStringCondition(context);
  OpenSet strings(context.ExistingDatabase(), "SELECT * FROM StringTable " + condition);
  if (strings->RecordCount() == 0) return;
  std::string statement = "DELETE FROM StringTable " + condition;
  context.WriteLog(statement);
  context.ExistingDatabase().Execute(statement, dao::kFailOnError);
}

}  // namespace tabsync::engine
