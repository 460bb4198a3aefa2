// The numbered work areas of the session, their aliases and the current area.
// Also the door through which the language reads and writes fields
// (xb::FieldAccess) and the network-error flag that failed opens and appends set.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dbf/workarea.h"
#include "xbase/fieldaccess.h"

namespace dbf {

class Workspace : public xb::FieldAccess {
  public:
    static constexpr int kMaxAreas = 250;

    Workspace() = default;
    ~Workspace() override;

    // Opens `path` in area `area` (0 = the lowest free area), closing what that
    // area held, under `alias` (empty = the file's base name), and makes it
    // current. Answers the area. Failures throw DbfError; a file held by
    // another user (oscode 32) also sets the network-error flag.
    int open(const std::string& path, std::string alias, OpenOptions options = {}, int area = 0);
    void close(int area);  // no-op on a free area
    void closeAll();

    // Selecting: by number (0 = lowest free area) or alias. select(alias)
    // answers 0 and changes nothing when the alias is not open.
    int select(int area);
    int select(std::string_view alias);
    int current() const { return current_; }
    WorkArea* area(int n) const;
    WorkArea* area(std::string_view alias) const;
    WorkArea* selected() const {
        return area(current_);
    }  // the current area's WorkArea, or nullptr
    int freeArea() const;
    bool used(std::string_view alias) const { return area(alias) != nullptr; }
    std::vector<int> openAreas() const;

    bool netErr() const { return netErr_; }
    void setNetErr(bool v) { netErr_ = v; }

    // Runs `fn` with `area` as the current area, restoring the former after.
    template <class F>
    auto withArea(int area, F&& fn) {
        struct Restore {
            Workspace* ws;
            int prev;
            ~Restore() { ws->current_ = prev; }
        } r{this, current_};
        current_ = area;
        return fn();
    }

    // xb::FieldAccess
    int currentArea() override { return current_ && area(current_) ? current_ : 0; }
    int areaOf(std::string_view alias) override;
    uint64_t openSerial(int area) override;
    int fieldIndex(int area, std::string_view name) override;
    xb::Value getField(int area, int field) override;
    void putField(int area, int field, const xb::Value& v) override;

  private:
    std::map<int, std::unique_ptr<WorkArea>> areas_;
    int current_ = 1;
    bool netErr_ = false;
};

// The session's work areas (one per process, like the language's runtime).
Workspace& workspace();

}  // namespace dbf
