// A second real process that holds a table the way another workstation
// would: opened exclusively, opened shared, or with a record locked. It
// keeps it until told to let go or until the holder is destroyed.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "dbf/table.h"

namespace datatest {

class Holder {
  public:
    enum Mode { Exclusive, Shared, RecordLock };

    Holder(const std::string& path, Mode mode, uint32_t recno = 1) {
        int down[2], up[2];
        if (::pipe(down) != 0 || ::pipe(up) != 0) throw std::runtime_error("pipe");
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(down[1]);
            ::close(up[0]);
            char c = 'k';
            try {
                auto t = dbf::Table::open(path, {mode != Exclusive, false});
                if (mode == RecordLock && !t->lockRecord(recno, true)) c = 'x';
                if (::write(up[1], &c, 1) != 1) ::_exit(2);
                while (::read(down[0], &c, 1) == 1) {
                    t.reset();  // let go of everything
                    if (::write(up[1], &c, 1) != 1) ::_exit(2);
                }
            } catch (...) {
                c = 'x';
                if (::write(up[1], &c, 1) != 1) ::_exit(2);
            }
            ::_exit(0);
        }
        ::close(down[0]);
        ::close(up[1]);
        toChild_ = down[1];
        fromChild_ = up[0];
        char c = 0;
        if (::read(fromChild_, &c, 1) != 1 || c != 'k')
            throw std::runtime_error("the holding process could not take the table");
    }
    // Makes the other process close the table; returns once it has.
    void release() {
        char c = 'r';
        if (released_) return;
        released_ = true;
        if (::write(toChild_, &c, 1) == 1) {
            if (::read(fromChild_, &c, 1) != 1) ADD_FAILURE() << "holder gone";
        }
    }
    ~Holder() {
        ::close(toChild_);
        ::close(fromChild_);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;

  private:
    pid_t pid_ = -1;
    int toChild_ = -1, fromChild_ = -1;
    bool released_ = false;
};

}  // namespace datatest
