// LibreOffice Calc as the spreadsheet application, driven over UNO through a
// named pipe. The office runs as a separate process with a profile of its own
// (so it does not touch the user's settings): on the user's display when
// there is one, its workbooks hidden until a script shows them, else
// headless. The program attaches to one already listening on the pipe or
// starts it.
#include <QDir>
#include <QProcess>
#include <QThread>
#include <QUrl>
#include <com/sun/star/awt/FontSlant.hpp>
#include <com/sun/star/awt/FontUnderline.hpp>
#include <com/sun/star/awt/FontWeight.hpp>
#include <com/sun/star/awt/Point.hpp>
#include <com/sun/star/awt/Rectangle.hpp>
#include <com/sun/star/awt/Size.hpp>
#include <com/sun/star/awt/XTopWindow.hpp>
#include <com/sun/star/awt/XWindow.hpp>
#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/bridge/XUnoUrlResolver.hpp>
#include <com/sun/star/chart/XChartDocument.hpp>
#include <com/sun/star/chart/XDiagram.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/container/XNamed.hpp>
#include <com/sun/star/document/XEmbeddedObjectSupplier.hpp>
#include <com/sun/star/drawing/XDrawPages.hpp>
#include <com/sun/star/drawing/XDrawPagesSupplier.hpp>
#include <com/sun/star/drawing/XShape.hpp>
#include <com/sun/star/drawing/XShapes.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/DispatchHelper.hpp>
#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/frame/XDispatchHelper.hpp>
#include <com/sun/star/frame/XDispatchProvider.hpp>
#include <com/sun/star/frame/XFrame.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/frame/XTitle.hpp>
#include <com/sun/star/graphic/GraphicProvider.hpp>
#include <com/sun/star/graphic/XGraphic.hpp>
#include <com/sun/star/graphic/XGraphicProvider.hpp>
#include <com/sun/star/lang/Locale.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/sheet/FilterConnection.hpp>
#include <com/sun/star/sheet/FilterOperator2.hpp>
#include <com/sun/star/sheet/GeneralFunction.hpp>
#include <com/sun/star/sheet/SubTotalColumn.hpp>
#include <com/sun/star/sheet/TableFilterField2.hpp>
#include <com/sun/star/sheet/XCellRangeAddressable.hpp>
#include <com/sun/star/sheet/XCellRangeData.hpp>
#include <com/sun/star/sheet/XCellRangeFormula.hpp>
#include <com/sun/star/sheet/XCellRangeMovement.hpp>
#include <com/sun/star/sheet/XCellRangeReferrer.hpp>
#include <com/sun/star/sheet/XDatabaseRange.hpp>
#include <com/sun/star/sheet/XHeaderFooterContent.hpp>
#include <com/sun/star/sheet/XPrintAreas.hpp>
#include <com/sun/star/sheet/XSheetAnnotationsSupplier.hpp>
#include <com/sun/star/sheet/XSheetCellCursor.hpp>
#include <com/sun/star/sheet/XSheetFilterDescriptor2.hpp>
#include <com/sun/star/sheet/XSheetOperation.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/sheet/XSpreadsheets.hpp>
#include <com/sun/star/sheet/XSubTotalCalculatable.hpp>
#include <com/sun/star/sheet/XUnnamedDatabaseRanges.hpp>
#include <com/sun/star/sheet/XUsedAreaCursor.hpp>
#include <com/sun/star/style/XStyleFamiliesSupplier.hpp>
#include <com/sun/star/table/BorderLine2.hpp>
#include <com/sun/star/table/BorderLineStyle.hpp>
#include <com/sun/star/table/CellContentType.hpp>
#include <com/sun/star/table/CellHoriJustify.hpp>
#include <com/sun/star/table/XCell.hpp>
#include <com/sun/star/table/XCellRange.hpp>
#include <com/sun/star/table/XColumnRowRange.hpp>
#include <com/sun/star/table/XTableChart.hpp>
#include <com/sun/star/table/XTableCharts.hpp>
#include <com/sun/star/table/XTableChartsSupplier.hpp>
#include <com/sun/star/table/XTableColumns.hpp>
#include <com/sun/star/table/XTableRows.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/util/MalformedNumberFormatException.hpp>
#include <com/sun/star/util/NumberFormat.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/util/XMergeable.hpp>
#include <com/sun/star/util/XNumberFormats.hpp>
#include <com/sun/star/util/XNumberFormatsSupplier.hpp>
#include <com/sun/star/util/XProtectable.hpp>
#include <com/sun/star/view/XPrintable.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <rtl/bootstrap.hxx>

#include <map>

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include "sheet/office.h"

using namespace com::sun::star;
namespace css = com::sun::star;
using rtl::OString;
using rtl::OStringToOUString;
using rtl::OUString;
using rtl::OUStringToOString;
using uno::Any;
using uno::Reference;
using uno::Sequence;
using uno::UNO_QUERY;
using uno::UNO_QUERY_THROW;

namespace sheet {

namespace {

OUString ou(const std::string& s) {
    return OStringToOUString(OString(s.c_str(), static_cast<sal_Int32>(s.size())),
                             RTL_TEXTENCODING_UTF8);
}
std::string utf8(const OUString& s) {
    return OUStringToOString(s, RTL_TEXTENCODING_UTF8).getStr();
}

std::string fileUrl(const std::string& path) {
    return QUrl::fromLocalFile(QDir::current().absoluteFilePath(QString::fromStdString(path)))
        .toString(QUrl::FullyEncoded)
        .toStdString();
}

beans::PropertyValue prop(const char* name, const Any& value) {
    beans::PropertyValue p;
    p.Name = OUString::createFromAscii(name);
    p.Value = value;
    return p;
}

// The SDK's initializer-list constructor of Sequence is not for us to use.
template <class T>
Sequence<T> seqOf(const std::vector<T>& v) {
    Sequence<T> s(static_cast<sal_Int32>(v.size()));
    for (size_t i = 0; i < v.size(); ++i) s.getArray()[i] = v[i];
    return s;
}

// Excel's file-format numbers, as scripts pass them, and Calc's filters.
const char* filterOf(int format, const std::string& path) {
    auto ends = [&](const char* ext) {
        QString p = QString::fromStdString(path).toLower();
        return p.endsWith(QLatin1String(ext));
    };
    if (ends(".ods")) return "calc8";
    if (ends(".xlsx")) return "Calc MS Excel 2007 XML";
    if (ends(".xls")) return "MS Excel 97";
    if (ends(".csv")) return "Text - txt - csv (StarCalc)";
    switch (format) {
        case 60:
            return "calc8";
        case 56:
        case -4143:
            return "MS Excel 97";
        case 6:
            return "Text - txt - csv (StarCalc)";
        default:
            return "Calc MS Excel 2007 XML";  // 51, Excel's own default
    }
}

int formatOf(const OUString& filter) {
    std::string f = utf8(filter);
    if (f == "calc8") return 60;
    if (f == "MS Excel 97") return 56;
    if (f.rfind("Text - txt - csv", 0) == 0) return 6;
    return 51;
}

class UnoOffice : public Office {
  public:
    // `proc`: the office started headless as our child; `pid`: the one
    // started on the display, on its own; neither: one that was running.
    UnoOffice(Reference<uno::XComponentContext> ctx, std::unique_ptr<QProcess> proc, qint64 pid,
              bool windows)
        : ctx_(std::move(ctx)), proc_(std::move(proc)), pid_(pid), windows_(windows) {
        desktop_ = frame::Desktop::create(ctx_);
    }
    ~UnoOffice() override {
        // The workbooks the user has been shown stay open, and the office
        // with them, when the script is done with the object.
        try {
            closeBooks();
            if (proc_ || pid_ > 0) quit();
        } catch (...) {
        }
    }

    // ---------------------------------------------------------- workbooks
    void createBook() override {
        load("private:factory/scalc");
        format_ = 51;
        // The office names a new workbook's sheets in its own English;
        // scripts and users of this program know them as "Hoja1", "Hoja2"...
        auto names = sheetNames();
        for (size_t i = 0; i < names.size(); ++i)
            if (names[i] == "Sheet" + std::to_string(i + 1))
                nameSheet(static_cast<int>(i + 1), "Hoja" + std::to_string(i + 1));
    }
    void openBook(const std::string& path) override {
        if (!QFile::exists(QString::fromStdString(path)))
            throw OfficeError("No existe el archivo " + path);
        load(fileUrl(path));
        Reference<frame::XModel> m(doc_, UNO_QUERY_THROW);
        OUString filter;
        for (const auto& a : m->getArgs())
            if (a.Name == "FilterName") a.Value >>= filter;
        format_ = formatOf(filter);
    }
    void saveBook() override { storable()->store(); }
    void saveBookAs(const std::string& path, int format) override {
        std::vector<beans::PropertyValue> args{
            prop("FilterName", Any(OUString::createFromAscii(filterOf(format, path)))),
            prop("Overwrite", Any(true))};
        storable()->storeAsURL(ou(fileUrl(path)), seqOf(args));
        format_ = formatOf(OUString::createFromAscii(filterOf(format, path)));
    }
    int bookFormat() override { return format_; }
    bool bookReadOnly() override { return storable()->isReadonly(); }
    void closeBooks() override {
        for (auto& d : books_) {
            if (wasShown(d)) continue;  // the user's now: closed by the user
            Reference<util::XCloseable> c(d, UNO_QUERY);
            try {
                if (c.is()) c->close(true);
            } catch (const uno::Exception&) {
            }
        }
        books_.clear();
        doc_.clear();
    }
    std::vector<std::string> bookTitles() override {
        std::vector<std::string> out;
        for (auto& d : books_) {
            Reference<frame::XTitle> t(d, UNO_QUERY);
            if (t.is()) out.push_back(utf8(t->getTitle()));
        }
        return out;
    }
    void printSheet() override {
        Reference<view::XPrintable> p(doc_, UNO_QUERY_THROW);
        p->print(Sequence<beans::PropertyValue>());
    }
    void show(bool visible) override {
        // A headless office has no windows to show.
        if (!windows_) return;
        Reference<frame::XModel> m(doc(), UNO_QUERY_THROW);
        auto ctl = m->getCurrentController();
        if (!ctl.is() || !ctl->getFrame().is()) return;
        Reference<frame::XFrame> fr = ctl->getFrame();
        Reference<awt::XWindow> w = fr->getContainerWindow();
        w->setVisible(visible);
        auto at = std::find(shown_.begin(), shown_.end(), doc_);
        if (!visible) {
            if (at != shown_.end()) shown_.erase(at);
            return;
        }
        if (at == shown_.end()) shown_.push_back(doc_);
        Reference<awt::XTopWindow> top(w, UNO_QUERY);
        if (top.is()) top->toFront();
        fr->activate();
    }
    void exportHtml(const std::string& path) override {
        std::vector<beans::PropertyValue> args{prop("FilterName", Any(OUString("HTML (StarCalc)"))),
                                               prop("Overwrite", Any(true))};
        storable()->storeToURL(ou(fileUrl(path)), seqOf(args));
    }
    bool dialog(const std::string& command) override {
        if (!windows_) return false;
        Reference<frame::XModel> m(doc(), UNO_QUERY_THROW);
        auto ctl = m->getCurrentController();
        if (!ctl.is() || !ctl->getFrame().is()) return false;
        Reference<frame::XDispatchProvider> dp(ctl->getFrame(), UNO_QUERY_THROW);
        Reference<frame::XDispatchHelper> helper = frame::DispatchHelper::create(ctx_);
        std::vector<beans::PropertyValue> args{prop("SynchronMode", Any(true))};
        helper->executeDispatch(dp, ou(command), "_self", 0, seqOf(args));
        return true;
    }
    void quit() override {
        // Closing the workbooks first removes their lock files, which an
        // office that is simply ended leaves beside them.
        closeBooks();
        // An office still holding a workbook (one shown to the user, or the
        // user's own in an office that was already running) stays.
        try {
            if (desktop_->getComponents()->createEnumeration()->hasMoreElements()) return;
        } catch (const uno::Exception&) {
            return;
        }
        try {
            desktop_->terminate();
        } catch (const uno::Exception&) {
            // The bridge goes down with the office: that is the answer.
        }
        if (proc_) {
            if (!proc_->waitForFinished(10000)) {
                proc_->kill();
                proc_->waitForFinished(3000);
            }
            proc_.reset();
        }
        if (pid_ > 0) {
            for (int i = 0; i < 100 && ::kill(static_cast<pid_t>(pid_), 0) == 0; ++i)
                QThread::msleep(100);
            if (::kill(static_cast<pid_t>(pid_), 0) == 0) ::kill(static_cast<pid_t>(pid_), SIGKILL);
            pid_ = 0;
        }
    }

    // ------------------------------------------------------------- sheets
    std::vector<std::string> sheetNames() override {
        std::vector<std::string> out;
        for (const auto& n : sheets()->getElementNames()) out.push_back(utf8(n));
        return out;
    }
    int activeSheet() override { return active_; }
    void setActiveSheet(int n) override {
        Reference<container::XIndexAccess> ia(sheets(), UNO_QUERY_THROW);
        if (n < 1 || n > ia->getCount())
            throw OfficeError("No existe la hoja " + std::to_string(n));
        active_ = n;
    }
    void addSheet() override {
        auto names = sheetNames();
        std::string name;
        for (int i = static_cast<int>(names.size()) + 1;; ++i) {
            name = "Hoja" + std::to_string(i);
            if (std::find(names.begin(), names.end(), name) == names.end()) break;
        }
        sheets()->insertNewByName(ou(name), static_cast<sal_Int16>(active_ - 1));
    }
    void copySheet() override {
        auto names = sheetNames();
        std::string src = names.at(static_cast<size_t>(active_ - 1));
        std::string name = src + " (2)";
        for (int i = 3; std::find(names.begin(), names.end(), name) != names.end(); ++i)
            name = src + " (" + std::to_string(i) + ")";
        sheets()->copyByName(ou(src), ou(name), static_cast<sal_Int16>(active_ - 1));
    }
    void deleteSheet(int n) override {
        auto names = sheetNames();
        if (n < 1 || n > static_cast<int>(names.size()) || names.size() < 2)
            throw OfficeError("No se puede eliminar la hoja " + std::to_string(n));
        sheets()->removeByName(ou(names[static_cast<size_t>(n - 1)]));
        if (active_ > static_cast<int>(names.size()) - 1)
            active_ = static_cast<int>(names.size()) - 1;
    }
    void moveSheet(int n, int to) override {
        auto names = sheetNames();
        sheets()->moveByName(ou(names.at(static_cast<size_t>(n - 1))),
                             static_cast<sal_Int16>(to - 1));
    }
    void nameSheet(int n, const std::string& name) override {
        Reference<container::XIndexAccess> ia(sheets(), UNO_QUERY_THROW);
        Reference<container::XNamed> named(ia->getByIndex(n - 1), UNO_QUERY_THROW);
        named->setName(ou(name));
    }

    // -------------------------------------------------------------- cells
    void setCell(int row, int col, const CellValue& v) override {
        Reference<table::XCell> c = cellAt(row, col);
        if (auto* d = std::get_if<double>(&v)) {
            c->setValue(*d);
        } else if (auto* s = std::get_if<std::string>(&v)) {
            Reference<text::XText> t(c, UNO_QUERY_THROW);
            t->setString(ou(*s));
        } else {
            Reference<text::XText> t(c, UNO_QUERY_THROW);
            t->setString(OUString());
        }
    }
    CellRead cell(int row, int col) override {
        Reference<table::XCell> c = cellAt(row, col);
        CellRead r;
        table::CellContentType type = c->getType();
        r.isFormula = type == table::CellContentType_FORMULA;
        Reference<text::XText> t(c, UNO_QUERY_THROW);
        if (type == table::CellContentType_EMPTY) return r;
        if (type == table::CellContentType_TEXT) {
            r.value = utf8(t->getString());
            return r;
        }
        if (type == table::CellContentType_FORMULA) {
            Reference<beans::XPropertySet> ps(c, UNO_QUERY_THROW);
            sal_Int32 resultType = 0;
            ps->getPropertyValue("FormulaResultType2") >>= resultType;
            if (resultType == 2 /* TEXT */) {
                r.value = utf8(t->getString());
                return r;
            }
        }
        r.value = c->getValue();
        r.isDate = isDateFormat(c);
        return r;
    }
    bool setFormula(int row, int col, const std::string& formula, bool local) override {
        Reference<table::XCell> c = cellAt(row, col);
        Reference<text::XText> t(c, UNO_QUERY_THROW);
        // What the cell held, to put back when the formula is refused.
        table::CellContentType was = c->getType();
        OUString before = was == table::CellContentType_TEXT ? t->getString() : c->getFormula();
        if (local)
            // The office's own notation for its language (Spanish, see
            // spanishProfile): SUMA, ";" between arguments, "," as decimal mark.
            Reference<beans::XPropertySet>(c, UNO_QUERY_THROW)
                ->setPropertyValue("FormulaLocal", Any(ou(formula)));
        else
            c->setFormula(ou(formula));
        sal_Int32 err = c->getError();
        // Syntax errors (501-518) are a formula the office does not take;
        // results such as #DIV/0! or #VALUE! are formulas it took.
        if (err >= 501 && err <= 518) {
            if (was == table::CellContentType_TEXT || was == table::CellContentType_EMPTY)
                t->setString(before);
            else
                c->setFormula(before);
            return false;
        }
        return true;
    }
    void setBlock(int row, int col, const std::vector<std::vector<CellValue>>& rows) override {
        if (rows.empty() || rows[0].empty()) return;
        Sequence<Sequence<Any>> data(static_cast<sal_Int32>(rows.size()));
        for (size_t i = 0; i < rows.size(); ++i) {
            Sequence<Any> line(static_cast<sal_Int32>(rows[i].size()));
            for (size_t j = 0; j < rows[i].size(); ++j) {
                const CellValue& v = rows[i][j];
                if (auto* d = std::get_if<double>(&v))
                    line.getArray()[j] = Any(*d);
                else if (auto* s = std::get_if<std::string>(&v))
                    line.getArray()[j] = Any(ou(*s));
                else
                    line.getArray()[j] = Any(OUString());
            }
            data.getArray()[i] = line;
        }
        Area a{row, col, row + static_cast<int>(rows.size()) - 1,
               col + static_cast<int>(rows[0].size()) - 1};
        Reference<css::sheet::XCellRangeData> rd(range(a), UNO_QUERY_THROW);
        rd->setDataArray(data);
    }
    std::vector<std::vector<CellValue>> block(const Area& a) override {
        Reference<css::sheet::XCellRangeData> rd(range(a), UNO_QUERY_THROW);
        std::vector<std::vector<CellValue>> out;
        for (const auto& line : rd->getDataArray()) {
            std::vector<CellValue> row;
            for (const Any& v : line) {
                double d = 0;
                OUString s;
                if (v >>= d)
                    row.emplace_back(d);
                else if ((v >>= s) && !s.isEmpty())
                    row.emplace_back(utf8(s));
                else
                    row.emplace_back();
            }
            out.push_back(std::move(row));
        }
        return out;
    }
    void copyRange(const Area& from, int row, int col) override {
        Reference<css::sheet::XCellRangeMovement> mv(sheet(), UNO_QUERY_THROW);
        mv->copyRange(table::CellAddress(static_cast<sal_Int16>(active_ - 1), col - 1, row - 1),
                      address(from));
    }
    void clear(const Area& a) override {
        Reference<css::sheet::XSheetOperation> op(range(a), UNO_QUERY_THROW);
        op->clearContents(1 | 2 | 4 | 8 | 16);
    }
    void setFont(const Area& a, const FontSpec& f) override {
        auto ps = props(a);
        if (!f.name.empty()) ps->setPropertyValue("CharFontName", Any(ou(f.name)));
        if (f.size > 0) ps->setPropertyValue("CharHeight", Any(static_cast<float>(f.size)));
        if (f.bold >= 0)
            ps->setPropertyValue("CharWeight",
                                 Any(f.bold ? awt::FontWeight::BOLD : awt::FontWeight::NORMAL));
        if (f.italic >= 0)
            ps->setPropertyValue("CharPosture",
                                 Any(f.italic ? awt::FontSlant_ITALIC : awt::FontSlant_NONE));
        if (f.underline >= 0)
            ps->setPropertyValue(
                "CharUnderline",
                Any(static_cast<sal_Int16>(f.underline ? awt::FontUnderline::SINGLE
                                                       : awt::FontUnderline::NONE)));
        if (f.colour >= 0) ps->setPropertyValue("CharColor", Any(static_cast<sal_Int32>(f.colour)));
    }
    void setBackground(const Area& a, long colour) override {
        props(a)->setPropertyValue("CellBackColor", Any(static_cast<sal_Int32>(colour)));
    }
    void setNumberFormat(const Area& a, const std::string& format) override {
        props(a)->setPropertyValue("NumberFormat", Any(formatKey(format)));
    }
    void setDateFormat(const Area& a) override {
        props(a)->setPropertyValue("NumberFormat", Any(formatKey("DD-MM-YYYY")));
    }
    void setAlign(const Area& a, int n) override {
        table::CellHoriJustify j = table::CellHoriJustify_STANDARD;
        switch (n) {
            case 2:
            case -4131:
                j = table::CellHoriJustify_LEFT;
                break;
            case 3:
            case -4108:
            case 7:
                j = table::CellHoriJustify_CENTER;
                break;
            case 4:
            case -4152:
                j = table::CellHoriJustify_RIGHT;
                break;
            case 5:
                j = table::CellHoriJustify_REPEAT;
                break;
            case -4130:
                j = table::CellHoriJustify_BLOCK;
                break;
            default:
                break;
        }
        props(a)->setPropertyValue("HoriJustify", Any(j));
    }
    void setOrientation(const Area& a, int degrees) override {
        props(a)->setPropertyValue("RotateAngle", Any(static_cast<sal_Int32>(degrees * 100)));
    }
    void setBorder(const Area& a, int style) override {
        table::BorderLine2 line;
        // Excel's xlNone (-4142) and 0 mean no line; its dashes and dots
        // keep their look; every other style is a continuous line.
        if (style != 0 && style != -4142) {
            line.Color = 0;
            line.OuterLineWidth = 26;
            line.LineWidth = 26;
            line.LineStyle = style == -4115   ? table::BorderLineStyle::DASHED
                             : style == -4118 ? table::BorderLineStyle::DOTTED
                             : style == -4119 ? table::BorderLineStyle::DOUBLE
                                              : table::BorderLineStyle::SOLID;
        }
        auto ps = props(a);
        for (const char* side : {"TopBorder", "BottomBorder", "LeftBorder", "RightBorder"})
            ps->setPropertyValue(OUString::createFromAscii(side), Any(line));
    }
    void setWrap(const Area& a) override { props(a)->setPropertyValue("IsTextWrapped", Any(true)); }
    void merge(const Area& a) override {
        Reference<util::XMergeable> m(range(a), UNO_QUERY_THROW);
        m->merge(true);
    }
    void comment(int row, int col, const std::string& text) override {
        Reference<css::sheet::XSheetAnnotationsSupplier> s(sheet(), UNO_QUERY_THROW);
        table::CellAddress at(static_cast<sal_Int16>(active_ - 1), col - 1, row - 1);
        s->getAnnotations()->insertNew(at, ou(text));
    }
    void autoFit(int col) override {
        columnProps(col)->setPropertyValue("OptimalWidth", Any(true));
    }
    void columnWidth(int col, double chars) override {
        // Excel's unit is the width of a digit of the standard font, about
        // 1.9 mm; Calc wants hundredths of a millimetre.
        columnProps(col)->setPropertyValue("Width", Any(static_cast<sal_Int32>(chars * 190 + 50)));
    }
    void sheetFont(const std::string& name, double size) override {
        Reference<beans::XPropertySet> ps(sheet(), UNO_QUERY_THROW);
        if (!name.empty()) ps->setPropertyValue("CharFontName", Any(ou(name)));
        if (size > 0) ps->setPropertyValue("CharHeight", Any(static_cast<float>(size)));
    }
    Area usedArea() override {
        Reference<css::sheet::XSheetCellCursor> cur = sheet()->createCursor();
        Reference<css::sheet::XUsedAreaCursor> used(cur, UNO_QUERY_THROW);
        used->gotoStartOfUsedArea(false);
        used->gotoEndOfUsedArea(true);
        Reference<css::sheet::XCellRangeAddressable> ad(cur, UNO_QUERY_THROW);
        table::CellRangeAddress r = ad->getRangeAddress();
        return {static_cast<int>(r.StartRow) + 1, static_cast<int>(r.StartColumn) + 1,
                static_cast<int>(r.EndRow) + 1, static_cast<int>(r.EndColumn) + 1};
    }
    void insertRow(int row) override { colRow()->getRows()->insertByIndex(row - 1, 1); }
    void insertCol(int col) override { colRow()->getColumns()->insertByIndex(col - 1, 1); }
    void duplicateRow(int row) override {
        insertRow(row);
        Reference<css::sheet::XCellRangeMovement> mv(sheet(), UNO_QUERY_THROW);
        table::CellRangeAddress src(static_cast<sal_Int16>(active_ - 1), 0, row, 1023, row);
        table::CellAddress dst(static_cast<sal_Int16>(active_ - 1), 0, row - 1);
        mv->copyRange(dst, src);
    }

    // ----------------------------------------------------------- page set-up
    void pageText(bool header, int which, const std::string& text) override {
        auto ps = pageStyle();
        const char* onName = header ? "HeaderIsOn" : "FooterIsOn";
        const char* contentName = header ? "RightPageHeaderContent" : "RightPageFooterContent";
        ps->setPropertyValue(OUString::createFromAscii(onName), Any(true));
        Reference<css::sheet::XHeaderFooterContent> content;
        ps->getPropertyValue(OUString::createFromAscii(contentName)) >>= content;
        if (!content.is()) return;
        Reference<text::XText> t = which == 2   ? content->getLeftText()
                                   : which == 3 ? content->getRightText()
                                                : content->getCenterText();
        t->setString(ou(text));
        ps->setPropertyValue(OUString::createFromAscii(contentName), Any(content));
    }
    void margin(int which, double value) override {
        // Excel's margins are in points; Calc's in hundredths of a millimetre.
        sal_Int32 v = static_cast<sal_Int32>(value * 2540.0 / 72.0);
        static const char* names[] = {"RightMargin",  "TopMargin",          "LeftMargin",
                                      "BottomMargin", "FooterBodyDistance", "HeaderBodyDistance"};
        auto ps = pageStyle();
        if (which == 0) {
            for (const char* n : names) ps->setPropertyValue(OUString::createFromAscii(n), Any(v));
        } else if (which >= 1 && which <= 6) {
            ps->setPropertyValue(OUString::createFromAscii(names[which - 1]), Any(v));
        }
    }
    void printArea(const Area& a) override {
        Reference<css::sheet::XPrintAreas> pa(sheet(), UNO_QUERY_THROW);
        std::vector<table::CellRangeAddress> v{address(a)};
        pa->setPrintAreas(seqOf(v));
    }
    void centre(bool horizontal, bool on) override {
        pageStyle()->setPropertyValue(
            horizontal ? OUString("CenterHorizontally") : OUString("CenterVertically"), Any(on));
    }
    void zoom(int percent) override {
        pageStyle()->setPropertyValue("PageScale", Any(static_cast<sal_Int16>(percent)));
    }
    void landscape(bool on) override {
        auto ps = pageStyle();
        bool now = false;
        ps->getPropertyValue("IsLandscape") >>= now;
        if (now == on) return;
        sal_Int32 w = 0, h = 0;
        ps->getPropertyValue("Width") >>= w;
        ps->getPropertyValue("Height") >>= h;
        ps->setPropertyValue("IsLandscape", Any(on));
        ps->setPropertyValue("Width", Any(h));
        ps->setPropertyValue("Height", Any(w));
    }
    void titleRows(int row1, int row2) override {
        Reference<css::sheet::XPrintAreas> pa(sheet(), UNO_QUERY_THROW);
        pa->setTitleRows(address({row1, 1, row2, 1}));
        pa->setPrintTitleRows(true);
    }
    void rowBreak(int row) override {
        Reference<beans::XPropertySet> r(colRow()->getRows()->getByIndex(row - 1), UNO_QUERY_THROW);
        r->setPropertyValue("IsStartOfNewPage", Any(true));
    }
    void paperSize(long width, long height) override {
        auto ps = pageStyle();
        bool landscape = false;
        ps->getPropertyValue("IsLandscape") >>= landscape;
        long w = landscape ? height : width, h = landscape ? width : height;
        ps->setPropertyValue("Width", Any(static_cast<sal_Int32>(w)));
        ps->setPropertyValue("Height", Any(static_cast<sal_Int32>(h)));
    }

    // ------------------------------------------------------- data ranges
    void subtotals(const Area& a, int groupBy, TotalFunction f,
                   const std::vector<int>& columns) override {
        if (a.row2 <= a.row1) throw OfficeError("El rango no tiene filas de datos");
        int width = a.col2 - a.col1 + 1;
        if (groupBy < 1 || groupBy > width)
            throw OfficeError("La columna " + std::to_string(groupBy) + " no está en el rango");
        css::sheet::GeneralFunction fn =
            f == TotalFunction::Average   ? css::sheet::GeneralFunction_AVERAGE
            : f == TotalFunction::Count   ? css::sheet::GeneralFunction_COUNT
            : f == TotalFunction::StdDev  ? css::sheet::GeneralFunction_STDEV
            : f == TotalFunction::StdDevP ? css::sheet::GeneralFunction_STDEVP
                                          : css::sheet::GeneralFunction_SUM;
        std::vector<css::sheet::SubTotalColumn> cols;
        for (int c : columns) {
            if (c < 1 || c > width)
                throw OfficeError("La columna " + std::to_string(c) + " no está en el rango");
            css::sheet::SubTotalColumn sc;
            sc.Column = c - 1;  // counted from the range's first column
            sc.Function = fn;
            cols.push_back(sc);
        }
        if (cols.empty()) throw OfficeError("No se ha indicado ninguna columna que totalizar");
        // The range's first row holds the headings, as the scripts' ranges
        // do; the sheet's database range says so to the office, which would
        // otherwise guess from the cells.
        Reference<css::sheet::XDatabaseRange> db = dataRange(a);
        Reference<css::sheet::XSubTotalCalculatable> st(range(a), UNO_QUERY_THROW);
        Reference<css::sheet::XSubTotalDescriptor> d = st->createSubTotalDescriptor(true);
        // Groups are runs of equal values in the rows' own order, as in
        // Excel (the office would sort the rows first).
        Reference<beans::XPropertySet>(d, UNO_QUERY_THROW)
            ->setPropertyValue("EnableSort", Any(false));
        d->addNew(seqOf(cols), groupBy - 1);
        st->applySubTotals(d, true);
        // The office labels the total rows in its own language (the
        // workbook is for Spanish readers) and leaves their numbers in the
        // general format; they take the format of the figures they total, as
        // rows inserted in Excel take the format of the row above.
        Reference<css::sheet::XCellRangeReferrer> ref(db, UNO_QUERY_THROW);
        Reference<css::sheet::XCellRangeAddressable> grown(ref->getReferredCells(),
                                                           UNO_QUERY_THROW);
        int last = static_cast<int>(grown->getRangeAddress().EndRow) + 1;
        if (last <= a.row1) return;
        int totalCol = a.col1 + columns.front() - 1, labelCol = a.col1 + groupBy - 1;
        // The total rows are found in one read of the first total column's
        // formulas: one call for the whole range, however long.
        Reference<css::sheet::XCellRangeFormula> tf(range({a.row1 + 1, totalCol, last, totalCol}),
                                                    UNO_QUERY_THROW);
        const Sequence<Sequence<OUString>> formulas = tf->getFormulaArray();
        Reference<css::sheet::XSpreadsheet> sh = sheet();
        auto cellOf = [&](int row, int col) { return sh->getCellByPosition(col - 1, row - 1); };
        for (sal_Int32 k = 0; k < formulas.getLength(); ++k) {
            if (formulas[k].getLength() == 0 || !formulas[k][0].startsWith("=SUBTOTAL(")) continue;
            int r = a.row1 + 1 + k;
            std::string label = "Total general";
            if (r < last) {
                Reference<text::XText> above(cellOf(r - 1, labelCol), UNO_QUERY_THROW);
                label = "Total " + utf8(above->getString());
            }
            Reference<text::XText>(cellOf(r, labelCol), UNO_QUERY_THROW)->setString(ou(label));
            for (int c : columns) {
                sal_Int32 key = 0;
                Reference<beans::XPropertySet>(cellOf(r - 1, a.col1 + c - 1), UNO_QUERY_THROW)
                    ->getPropertyValue("NumberFormat") >>= key;
                Reference<beans::XPropertySet>(cellOf(r, a.col1 + c - 1), UNO_QUERY_THROW)
                    ->setPropertyValue("NumberFormat", Any(key));
            }
        }
    }
    void autoFilter(const Area& a, const FilterRule* rule) override {
        Reference<css::sheet::XDatabaseRange> db = dataRange(a);
        Reference<beans::XPropertySet>(db, UNO_QUERY_THROW)
            ->setPropertyValue("AutoFilter", Any(true));
        std::vector<css::sheet::TableFilterField2> fields;
        if (rule) {
            if (rule->field < 1 || rule->field > a.col2 - a.col1 + 1)
                throw OfficeError("El campo " + std::to_string(rule->field) +
                                  " no está en el rango");
            css::sheet::TableFilterField2 ff;
            ff.Connection = css::sheet::FilterConnection_AND;
            ff.Field = rule->field - 1;
            static const sal_Int32 ops[] = {
                css::sheet::FilterOperator2::EQUAL,   css::sheet::FilterOperator2::NOT_EQUAL,
                css::sheet::FilterOperator2::GREATER, css::sheet::FilterOperator2::GREATER_EQUAL,
                css::sheet::FilterOperator2::LESS,    css::sheet::FilterOperator2::LESS_EQUAL,
                css::sheet::FilterOperator2::EMPTY,   css::sheet::FilterOperator2::NOT_EMPTY};
            ff.Operator = ops[static_cast<int>(rule->op)];
            if (auto* n = std::get_if<double>(&rule->value)) {
                ff.IsNumeric = true;
                ff.NumericValue = *n;
            } else if (auto* t = std::get_if<std::string>(&rule->value)) {
                ff.StringValue = ou(*t);
            }
            fields.push_back(ff);
        }
        Reference<css::sheet::XSheetFilterDescriptor2> fd(db->getFilterDescriptor(),
                                                          UNO_QUERY_THROW);
        Reference<beans::XPropertySet>(fd, UNO_QUERY_THROW)
            ->setPropertyValue("ContainsHeader", Any(true));
        fd->setFilterFields2(seqOf(fields));
        db->refresh();
    }

    // ------------------------------------------------------- drawing layer
    Rect cellRect(int row, int col) override {
        Reference<beans::XPropertySet> ps(cellAt(row, col), UNO_QUERY_THROW);
        awt::Point p;
        awt::Size z;
        ps->getPropertyValue("Position") >>= p;
        ps->getPropertyValue("Size") >>= z;
        return {p.X, p.Y, z.Width, z.Height};
    }
    void chart(const Area& a, const ChartSpec& want, const Rect& at) override {
        Reference<table::XTableChartsSupplier> tcs(sheet(), UNO_QUERY_THROW);
        Reference<table::XTableCharts> charts = tcs->getCharts();
        std::string name;
        for (int i = 1; name.empty() || charts->hasByName(ou(name)); ++i)
            name = "Grafica" + std::to_string(i);
        awt::Rectangle r(at.x, at.y, at.width, at.height);
        std::vector<table::CellRangeAddress> ranges{address(a)};
        // The first row names the series and the first column the categories,
        // as in the ranges the scripts chart.
        charts->addNewByName(ou(name), r, seqOf(ranges), true, true);
        Reference<document::XEmbeddedObjectSupplier> eos(charts->getByName(ou(name)),
                                                         UNO_QUERY_THROW);
        Reference<chart::XChartDocument> cd(eos->getEmbeddedObject(), UNO_QUERY_THROW);
        Reference<lang::XMultiServiceFactory> mf(cd, UNO_QUERY_THROW);
        const char* service = "com.sun.star.chart.BarDiagram";
        switch (want.kind) {
            case SheetChartKind::Line:
                service = "com.sun.star.chart.LineDiagram";
                break;
            case SheetChartKind::Pie:
                service = "com.sun.star.chart.PieDiagram";
                break;
            case SheetChartKind::Doughnut:
                service = "com.sun.star.chart.DonutDiagram";
                break;
            case SheetChartKind::Area:
                service = "com.sun.star.chart.AreaDiagram";
                break;
            case SheetChartKind::Scatter:
                service = "com.sun.star.chart.XYDiagram";
                break;
            case SheetChartKind::Radar:
                service = "com.sun.star.chart.NetDiagram";
                break;
            default:
                break;
        }
        Reference<chart::XDiagram> dg(mf->createInstance(OUString::createFromAscii(service)),
                                      UNO_QUERY_THROW);
        cd->setDiagram(dg);
        Reference<beans::XPropertySet> dp(dg, UNO_QUERY_THROW);
        // Calc draws bars upright unless told they lie: Excel's bar charts
        // are horizontal, its column charts upright.
        if (want.kind == SheetChartKind::Bar) dp->setPropertyValue("Vertical", Any(true));
        if (want.stacked) dp->setPropertyValue("Stacked", Any(true));
        if (want.percent) dp->setPropertyValue("Percent", Any(true));
        if (want.threeD) dp->setPropertyValue("Dim3D", Any(true));
        Reference<beans::XPropertySet> cp(cd, UNO_QUERY_THROW);
        cp->setPropertyValue("HasMainTitle", Any(true));
        Reference<beans::XPropertySet>(cd->getTitle(), UNO_QUERY_THROW)
            ->setPropertyValue("String", Any(ou(want.title)));
    }
    void picture(const std::string& path, const Rect& at) override {
        if (!QFile::exists(QString::fromStdString(path)))
            throw OfficeError("No existe el archivo " + path);
        Reference<graphic::XGraphicProvider> gp = graphic::GraphicProvider::create(ctx_);
        std::vector<beans::PropertyValue> args{prop("URL", Any(ou(fileUrl(path))))};
        Reference<graphic::XGraphic> g = gp->queryGraphic(seqOf(args));
        if (!g.is()) throw OfficeError("El archivo " + path + " no es una imagen");
        Rect r = at;
        if (r.width <= 0 || r.height <= 0) {
            // The picture's own size: its physical size when it tells one,
            // else its pixels at 96 per inch.
            Reference<beans::XPropertySet> gps(g, UNO_QUERY_THROW);
            awt::Size mm, px;
            gps->getPropertyValue("Size100thMM") >>= mm;
            gps->getPropertyValue("SizePixel") >>= px;
            r.width = mm.Width > 0 ? mm.Width : px.Width * 2540 / 96;
            r.height = mm.Height > 0 ? mm.Height : px.Height * 2540 / 96;
        }
        // Setting the graphic itself (not a link to the file) embeds it, so
        // the workbook keeps it wherever it goes.
        Reference<drawing::XShape> shp = newShape("com.sun.star.drawing.GraphicObjectShape", r);
        Reference<beans::XPropertySet>(shp, UNO_QUERY_THROW)->setPropertyValue("Graphic", Any(g));
    }
    void shape(const std::string& geometry, const Rect& at) override {
        Reference<drawing::XShape> shp = newShape("com.sun.star.drawing.CustomShape", at);
        // The office draws a preset geometry from its name alone.
        std::vector<beans::PropertyValue> geo{prop("Type", Any(ou(geometry)))};
        Reference<beans::XPropertySet>(shp, UNO_QUERY_THROW)
            ->setPropertyValue("CustomShapeGeometry", Any(seqOf(geo)));
    }
    void protectSheet(const std::string& password, bool on) override {
        Reference<util::XProtectable> p(sheet(), UNO_QUERY_THROW);
        if (on)
            p->protect(ou(password));
        else
            p->unprotect(ou(password));
    }
    void protectBook(const std::string& password, bool on) override {
        Reference<util::XProtectable> p(doc_, UNO_QUERY_THROW);
        if (on)
            p->protect(ou(password));
        else
            p->unprotect(ou(password));
    }

  private:
    // The sheet's own database range, set to the area (the one an
    // autofilter and the subtotals work on and the xlsx filter saves).
    Reference<css::sheet::XDatabaseRange> dataRange(const Area& a) {
        Reference<beans::XPropertySet> dp(doc(), UNO_QUERY_THROW);
        Reference<css::sheet::XUnnamedDatabaseRanges> u(
            dp->getPropertyValue("UnnamedDatabaseRanges"), UNO_QUERY_THROW);
        u->setByTable(address(a));
        Reference<css::sheet::XDatabaseRange> db(u->getByTable(static_cast<sal_Int16>(active_ - 1)),
                                                 UNO_QUERY_THROW);
        Reference<beans::XPropertySet>(db, UNO_QUERY_THROW)
            ->setPropertyValue("ContainsHeader", Any(true));
        return db;
    }
    Reference<drawing::XShape> newShape(const char* service, const Rect& at) {
        Reference<lang::XMultiServiceFactory> mf(doc(), UNO_QUERY_THROW);
        Reference<drawing::XShape> shp(mf->createInstance(OUString::createFromAscii(service)),
                                       UNO_QUERY_THROW);
        // The workbook's drawing pages go one per sheet, in the sheets' order.
        Reference<drawing::XDrawPagesSupplier> dps(doc(), UNO_QUERY_THROW);
        Reference<drawing::XShapes> page(dps->getDrawPages()->getByIndex(active_ - 1),
                                         UNO_QUERY_THROW);
        page->add(shp);
        shp->setPosition(awt::Point(static_cast<sal_Int32>(at.x), static_cast<sal_Int32>(at.y)));
        shp->setSize(awt::Size(static_cast<sal_Int32>(std::max(at.width, 1L)),
                               static_cast<sal_Int32>(std::max(at.height, 1L))));
        return shp;
    }
    void load(const std::string& url) {
        Reference<frame::XComponentLoader> loader(desktop_, UNO_QUERY_THROW);
        std::vector<beans::PropertyValue> args{prop("Hidden", Any(true))};
        Reference<lang::XComponent> c =
            loader->loadComponentFromURL(ou(url), "_blank", 0, seqOf(args));
        if (!c.is()) throw OfficeError("No se pudo abrir " + url);
        doc_ = Reference<css::sheet::XSpreadsheetDocument>(c, UNO_QUERY);
        if (!doc_.is()) {
            Reference<util::XCloseable>(c, UNO_QUERY_THROW)->close(true);
            throw OfficeError("El archivo no es una hoja de cálculo");
        }
        books_.push_back(doc_);
        active_ = 1;
    }
    Reference<css::sheet::XSpreadsheetDocument> doc() {
        if (!doc_.is()) throw OfficeError("No hay un libro abierto");
        return doc_;
    }
    Reference<frame::XStorable> storable() {
        return Reference<frame::XStorable>(doc(), UNO_QUERY_THROW);
    }
    Reference<css::sheet::XSpreadsheets> sheets() { return doc()->getSheets(); }
    Reference<css::sheet::XSpreadsheet> sheet() {
        Reference<container::XIndexAccess> ia(sheets(), UNO_QUERY_THROW);
        if (active_ < 1 || active_ > ia->getCount()) active_ = 1;
        return Reference<css::sheet::XSpreadsheet>(ia->getByIndex(active_ - 1), UNO_QUERY_THROW);
    }
    Reference<table::XCell> cellAt(int row, int col) {
        if (row < 1 || col < 1) throw OfficeError("Celda fuera de la hoja");
        return sheet()->getCellByPosition(col - 1, row - 1);
    }
    Reference<table::XCellRange> range(const Area& a) {
        if (a.row1 < 1 || a.col1 < 1 || a.row2 < a.row1 || a.col2 < a.col1)
            throw OfficeError("Rango fuera de la hoja");
        return sheet()->getCellRangeByPosition(a.col1 - 1, a.row1 - 1, a.col2 - 1, a.row2 - 1);
    }
    Reference<beans::XPropertySet> props(const Area& a) {
        return Reference<beans::XPropertySet>(range(a), UNO_QUERY_THROW);
    }
    Reference<table::XColumnRowRange> colRow() {
        return Reference<table::XColumnRowRange>(sheet(), UNO_QUERY_THROW);
    }
    Reference<beans::XPropertySet> columnProps(int col) {
        return Reference<beans::XPropertySet>(colRow()->getColumns()->getByIndex(col - 1),
                                              UNO_QUERY_THROW);
    }
    table::CellRangeAddress address(const Area& a) {
        return table::CellRangeAddress(static_cast<sal_Int16>(active_ - 1), a.col1 - 1, a.row1 - 1,
                                       a.col2 - 1, a.row2 - 1);
    }
    Reference<beans::XPropertySet> pageStyle() {
        Reference<beans::XPropertySet> sp(sheet(), UNO_QUERY_THROW);
        OUString name;
        sp->getPropertyValue("PageStyle") >>= name;
        Reference<style::XStyleFamiliesSupplier> fs(doc(), UNO_QUERY_THROW);
        Reference<container::XNameAccess> pages(fs->getStyleFamilies()->getByName("PageStyles"),
                                                UNO_QUERY_THROW);
        return Reference<beans::XPropertySet>(pages->getByName(name), UNO_QUERY_THROW);
    }
    Reference<util::XNumberFormats> formats() {
        Reference<util::XNumberFormatsSupplier> s(doc(), UNO_QUERY_THROW);
        return s->getNumberFormats();
    }
    sal_Int32 formatKey(const std::string& format) {
        // Scripts write Excel's formats in its English notation; the cells
        // get them in the workbook's Spanish ("#,##0.00" becomes "#.##0,00"),
        // so that a Spanish reader sees 1.234,50.
        if (keysOf_ != doc()) {
            keys_.clear();
            keysOf_ = doc();
        }
        auto known = keys_.find(format);
        if (known != keys_.end()) return known->second;
        lang::Locale en(OUString("en"), OUString("US"), OUString());
        lang::Locale system;  // the office's own, Spanish (see spanishProfile)
        auto f = formats();
        sal_Int32 key = -1;
        try {
            key = f->addNewConverted(ou(format), en, system);
        } catch (const util::MalformedNumberFormatException&) {
            throw;
        } catch (const uno::RuntimeException&) {
            // Already in the workbook (opened from a file): the English one.
            key = f->queryKey(ou(format), en, false);
            if (key == -1) key = f->addNew(ou(format), en);
        }
        keys_[format] = key;
        return key;
    }
    bool isDateFormat(const Reference<table::XCell>& c) {
        Reference<beans::XPropertySet> ps(c, UNO_QUERY_THROW);
        sal_Int32 key = 0;
        ps->getPropertyValue("NumberFormat") >>= key;
        sal_Int16 type = 0;
        formats()->getByKey(key)->getPropertyValue("Type") >>= type;
        return (type & util::NumberFormat::DATE) != 0;
    }

    bool wasShown(const Reference<css::sheet::XSpreadsheetDocument>& d) const {
        return std::find(shown_.begin(), shown_.end(), d) != shown_.end();
    }

    Reference<uno::XComponentContext> ctx_;
    Reference<frame::XDesktop2> desktop_;
    std::unique_ptr<QProcess> proc_;
    qint64 pid_ = 0;
    bool windows_ = false;  // the office runs on a display
    std::vector<Reference<css::sheet::XSpreadsheetDocument>> shown_;
    Reference<css::sheet::XSpreadsheetDocument> doc_;
    std::vector<Reference<css::sheet::XSpreadsheetDocument>> books_;
    int active_ = 1;
    int format_ = 51;
    Reference<css::sheet::XSpreadsheetDocument> keysOf_;  // the workbook keys_ belong to
    std::map<std::string, sal_Int32> keys_;               // number formats given so far
};

// The office of this Spanish program speaks Spanish: its language decides
// the names of the functions in formulas (SUMA, PROMEDIO...) and its locale
// the decimal mark and the separator between arguments. Both are settings of
// the office's profile, written before the office starts; the rest of the
// profile is kept.
void spanishProfile(const std::string& profile) {
    static const char* const items[][3] = {
        {"/org.openoffice.Setup/L10N", "ooLocale", "es"},
        {"/org.openoffice.Setup/L10N", "ooSetupSystemLocale", "es-ES"},
        {"/org.openoffice.Office.Linguistic/General", "UILocale", "es-ES"},
        {"/org.openoffice.Office.Calc/Formula/Syntax", "EnglishFunctionName", "false"},
        {"/org.openoffice.Office.Calc/Formula/Syntax", "SeparatorArg", ";"}};
    QDir().mkpath(QString::fromStdString(profile + "/user"));
    QFile f(QString::fromStdString(profile + "/user/registrymodifications.xcu"));
    QStringList lines;
    if (f.open(QIODevice::ReadOnly))
        lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
    f.close();
    if (!lines.join(QString()).contains(QLatin1String("</oor:items>")))
        lines = QStringList{
            QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"),
            QStringLiteral("<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" "
                           "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
                           "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">"),
            QStringLiteral("</oor:items>")};
    QStringList out;
    for (const QString& l : lines) {
        bool ours = false;
        for (const auto& it : items)
            ours |= l.contains(QStringLiteral("oor:path=\"%1\"").arg(QLatin1String(it[0]))) &&
                    l.contains(QStringLiteral("oor:name=\"%1\"").arg(QLatin1String(it[1])));
        if (ours) continue;
        if (l.contains(QLatin1String("</oor:items>")))
            for (const auto& it : items)
                out << QStringLiteral(
                           "<item oor:path=\"%1\"><prop oor:name=\"%2\" "
                           "oor:op=\"fuse\"><value>%3</value></prop></item>")
                           .arg(QLatin1String(it[0]), QLatin1String(it[1]), QLatin1String(it[2]));
        out << l;
    }
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(out.join(QLatin1Char('\n')).toUtf8());
}

Reference<uno::XComponentContext> resolve(const Reference<uno::XComponentContext>& local,
                                          const std::string& pipe) {
    Reference<bridge::XUnoUrlResolver> resolver = bridge::UnoUrlResolver::create(local);
    Reference<uno::XInterface> x =
        resolver->resolve(ou("uno:pipe,name=" + pipe + ";urp;StarOffice.ComponentContext"));
    return Reference<uno::XComponentContext>(x, UNO_QUERY);
}

}  // namespace

std::unique_ptr<Office> connectOffice(const OfficePlace& place) {
    std::string soffice = place.soffice.empty() ? std::string(VDR_SOFFICE) : place.soffice;
    if (!QFile::exists(QString::fromStdString(soffice))) return nullptr;
    try {
        // Without the bootstrap variable the first call into the kit fails.
        rtl::Bootstrap::set("URE_BOOTSTRAP",
                            "vnd.sun.star.pathname:" VDR_UNO_PROGRAM_DIR "/fundamentalrc");
        static Reference<uno::XComponentContext> local =
            cppu::defaultBootstrap_InitialComponentContext();
        // With a display the office runs on it, its windows hidden until a
        // script shows a workbook; without one it runs headless.
        auto set = [](const char* v) { return std::getenv(v) && *std::getenv(v); };
        const bool windows = set("DISPLAY") || set("WAYLAND_DISPLAY");
        try {
            auto ctx = resolve(local, place.pipe);
            if (ctx.is()) return std::make_unique<UnoOffice>(ctx, nullptr, 0, windows);
        } catch (const connection::NoConnectException&) {
        }
        spanishProfile(place.profile);
        auto proc = std::make_unique<QProcess>();
        QString profile = QUrl::fromLocalFile(QString::fromStdString(place.profile)).toString();
        proc->setProgram(QString::fromStdString(soffice));
        QStringList args{QStringLiteral("--invisible"),
                         QStringLiteral("--nologo"),
                         QStringLiteral("--nodefault"),
                         QStringLiteral("--norestore"),
                         QStringLiteral("--nolockcheck"),
                         QStringLiteral("-env:UserInstallation=") + profile,
                         QStringLiteral("--accept=pipe,name=") +
                             QString::fromStdString(place.pipe) +
                             QStringLiteral(";urp;StarOffice.ComponentContext")};
        if (!windows) args.prepend(QStringLiteral("--headless"));
        proc->setArguments(args);
        qint64 pid = 0;
        if (windows) {
            // On a display the office is the user's as soon as a workbook is
            // shown: it lives on its own and outlasts the program.
            // Nor does it hold the program's output open.
            proc->setStandardOutputFile(QProcess::nullDevice());
            proc->setStandardErrorFile(QProcess::nullDevice());
            if (!proc->startDetached(&pid)) return nullptr;
            proc.reset();
        } else {
            // Headless, the office goes when the program goes, also when the
            // program ends abnormally: an office left behind would hold the
            // pipe and the profile.
            proc->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
            proc->setProcessChannelMode(QProcess::ForwardedErrorChannel);
            proc->start();
            if (!proc->waitForStarted(10000)) return nullptr;
        }
        auto running = [&] {
            return proc ? proc->state() != QProcess::NotRunning
                        : ::kill(static_cast<pid_t>(pid), 0) == 0;
        };
        for (int i = 0; i < 120; ++i) {
            if (!running()) return nullptr;
            try {
                auto ctx = resolve(local, place.pipe);
                if (ctx.is())
                    return std::make_unique<UnoOffice>(ctx, std::move(proc), pid, windows);
            } catch (const connection::NoConnectException&) {
            }
            QThread::msleep(250);
        }
        if (proc) {
            proc->kill();
            proc->waitForFinished(3000);
        } else {
            ::kill(static_cast<pid_t>(pid), SIGKILL);
        }
    } catch (const uno::Exception&) {
    }
    return nullptr;
}

std::string officeErrorText() {
    try {
        throw;
    } catch (const uno::Exception& e) {
        return utf8(e.Message);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return std::string();
    }
}

}  // namespace sheet
