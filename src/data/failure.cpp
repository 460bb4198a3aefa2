#include "data/failure.h"

#include "data/replace.h"
#include "data/structures.h"
#include "dbf/error.h"
#include "xbase/codepage.h"

namespace data {

xb::Error errorFrom(const std::exception& e, const std::string& operation) {
    xb::Error err;
    err.operation = operation;
    if (auto* d = dynamic_cast<const dbf::DbfError*>(&e)) {
        err.subsystem = "DBFCDX";
        err.genCode = d->gencode();
        err.subCode = 1000 + d->gencode();
        err.osCode = d->oscode();
        err.description = xb::utf8ToCp1252(d->description());
        err.filename = xb::utf8ToCp1252(d->filename());
        if (!d->operation().empty()) err.operation = d->operation();
    } else if (dynamic_cast<const ReplaceError*>(&e)) {
        err.subsystem = "VDR";
        err.genCode = xb::gen::Write;
        err.subCode = 2001;
        err.description = xb::utf8ToCp1252(e.what());
    } else if (dynamic_cast<const StructureError*>(&e)) {
        err.subsystem = "VDR";
        err.genCode = xb::gen::Corruption;
        err.subCode = 2002;
        err.description = xb::utf8ToCp1252(e.what());
    } else {
        err.subsystem = "VDR";
        err.genCode = xb::gen::Arg;
        err.subCode = 2000;
        err.description = xb::utf8ToCp1252(e.what());
    }
    return err;
}

bool underHandler(const std::string& operation, const std::function<void()>& op) {
    for (int tries = 1;; ++tries) {
        try {
            op();
            return true;
        } catch (const xb::Break&) {
            throw;
        } catch (const std::exception& e) {
            xb::Error err = errorFrom(e, operation);
            err.canRetry = true;
            err.canSubstitute = true;
            err.tries = tries;
            if (!xb::raise(err).retry) return false;
        }
    }
}

void fail(int genCode, const std::string& descriptionUtf8, const std::string& filename) {
    xb::Error err;
    err.subsystem = "VDR";
    err.genCode = genCode;
    err.subCode = 2000 + genCode;
    err.description = xb::utf8ToCp1252(descriptionUtf8);
    err.filename = xb::utf8ToCp1252(filename);
    xb::raiseBreak(err);
}

}  // namespace data
