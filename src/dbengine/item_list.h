#ifndef TABSYNC_DBENGINE_ITEM_LIST_H_
#define TABSYNC_DBENGINE_ITEM_LIST_H_

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/dao.h"
#include "dbengine/error.h"
#include "dbengine/names.h"

namespace tabsync::dao {

// The collection behind TableDefs, Fields and Indexes: items in a vector,
// lookup by position or by name (ignoring case, or by a matcher of the
// owner's), and an owner-supplied Append. The guard runs before every call:
// it raises 3420 for a closed database, or loads the items on first use.
template <typename T>
class ItemList : public Collection<T> {
 public:
  using Appender = std::function<void(std::shared_ptr<T>)>;
  using Matcher = std::function<bool(const T&, const std::string&)>;
  using Guard = std::function<void()>;

  void set_appender(Appender appender) { appender_ = std::move(appender); }
  void set_matcher(Matcher matcher) { matcher_ = std::move(matcher); }
  void set_guard(Guard guard) { guard_ = std::move(guard); }

  int Count() const override {
    Check();
    return static_cast<int>(items_.size());
  }

  T& Item(int index) override {
    Check();
    if (index < 0 || index >= static_cast<int>(items_.size())) throw ItemNotFound();
    return *items_[index];
  }

  T& Item(const std::string& name) override {
    Check();
    for (auto& item : items_) {
      if (matcher_ ? matcher_(*item, name) : SameName(item->Name(), name)) return *item;
    }
    throw ItemNotFound();
  }

  void Append(std::shared_ptr<T> item) override {
    Check();
    if (!item) throw InvalidArgument();
    if (!appender_) throw InvalidOperation();
    appender_(std::move(item));
  }

  // The items themselves, for the owner (no guard).
  std::vector<std::shared_ptr<T>>& items() { return items_; }
  const std::vector<std::shared_ptr<T>>& items() const { return items_; }

 private:
  void Check() const {
    if (guard_) guard_();
  }

  std::vector<std::shared_ptr<T>> items_;
  Appender appender_;
  Matcher matcher_;
  Guard guard_;
};

}  // namespace tabsync::dao

#endif  // TABSYNC_DBENGINE_ITEM_LIST_H_
