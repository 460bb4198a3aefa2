// The template check: every template of the library against the controls the
// program's dialogs address in it (ID and kind), so that a template and the
// code that binds it cannot drift apart.
#include <gtest/gtest.h>

#include <QFile>
#include <QTabWidget>
#include <QUiLoader>
#include <map>
#include <set>

#include "toolkit/dialog.h"
#include "toolkit/resources.h"
#include "xbase/error.h"

namespace {

using Controls = std::map<int, std::string>;

Controls range(int from, int to, const std::string& kind) {
    Controls c;
    for (int i = from; i <= to; ++i) c[i] = kind;
    return c;
}

Controls merge(std::initializer_list<Controls> parts) {
    Controls out;
    for (const Controls& p : parts)
        for (const auto& [id, kind] : p) out[id] = kind;  // later parts override
    return out;
}

const std::map<std::string, Controls>& expected() {
    static const std::map<std::string, Controls> table = {
        {"SelecEmpr", {{701, "frame"}, {700, "frame"}, {101, "grid"}}},
        {"FoldIniEmpr", {{101, "folder"}}},
        {"STICKINIEMP",
         merge(
             {range(101, 111, "entry"),
              {{104, "combo"}, {250, "icon"}, {700, "frame"}, {200, "button"}, {201, "button"}}})},
        {"ElimEmpr",
         {{100, "text"},
          {101, "grid"},
          {102, "text"},
          {103, "text"},
          {104, "text"},
          {700, "frame"},
          {412, "button"},
          {401, "button"}}},
        {"BrowseIn1",
         merge({{{700, "frame"}, {102, "combo"}, {101, "grid"}}, range(201, 205, "button")})},
        {"Dlg_Vend",
         {{700, "frame"},
          {701, "frame"},
          {101, "entry"},
          {102, "entry"},
          {150, "icon"},
          {151, "icon"},
          {201, "button"},
          {202, "button"}}},
        {"Dlg_Prod", merge({{{700, "frame"}, {701, "frame"}, {201, "button"}, {202, "button"}},
                            range(101, 103, "entry")})},
        {"Dlg_Plan", merge({{{700, "frame"}, {701, "frame"}, {201, "button"}, {202, "button"}},
                            range(101, 104, "entry")})},
        {"Dlg_Resp",
         {{700, "frame"},
          {701, "frame"},
          {101, "entry"},
          {102, "entry"},
          {201, "button"},
          {202, "button"}}},
        {"Buscar1",
         {{700, "frame"},
          {701, "frame"},
          {600, "bitmap"},
          {702, "frame"},
          {101, "combo"},
          {102, "entry"},
          {201, "button"},
          {202, "button"}}},
        {"BrowBusca",
         {{700, "frame"}, {102, "combo"}, {101, "grid"}, {201, "button"}, {202, "button"}}},
        {"BROWSEINPROSP",
         merge({{{700, "frame"}, {701, "frame"}, {702, "frame"}, {102, "combo"}, {101, "grid"}},
                range(104, 107, "text"),
                range(206, 208, "button"),
                range(201, 205, "button")})},
        {"FoldProsp", {{101, "folder"}}},
        {"StickProsp1", merge({range(101, 113, "entry"),
                               {{103, "combo"},  {104, "combo"},  {119, "combo"},  {114, "grid"},
                                {115, "entry"},  {116, "memo"},   {117, "check"},  {118, "entry"},
                                {400, "text"},   {401, "text"},   {402, "text"},   {500, "button"},
                                {505, "button"}, {504, "button"}, {501, "button"}, {502, "button"},
                                {503, "button"}, {700, "frame"},  {701, "frame"},  {702, "frame"},
                                {200, "button"}, {201, "button"}}})},
        {"StickProsp2", merge({range(102, 109, "entry"),
                               {{700, "frame"},
                                {701, "frame"},
                                {501, "button"},
                                {502, "button"},
                                {503, "button"},
                                {101, "grid"},
                                {103, "combo"},
                                {105, "memo"},
                                {200, "button"},
                                {201, "button"}}})},
        {"StickProsp3",
         {{700, "frame"},
          {701, "frame"},
          {101, "entry"},
          {102, "entry"},
          {103, "entry"},
          {401, "text"},
          {500, "button"},
          {104, "grid"},
          {501, "button"},
          {502, "button"},
          {503, "button"},
          {702, "frame"},
          {402, "text"},
          {200, "button"},
          {201, "button"}}},
        {"Dlg_Prd_Of", merge({range(101, 105, "entry"),
                              {{700, "frame"},
                               {701, "frame"},
                               {500, "button"},
                               {150, "icon"},
                               {151, "icon"},
                               {201, "button"},
                               {202, "button"}}})},
        {"AddContacto", merge({range(101, 108, "entry"),
                               {{700, "frame"},
                                {102, "combo"},
                                {104, "memo"},
                                {500, "button"},
                                {200, "button"},
                                {201, "button"}}})},
        {"Edit_Tabl",
         {{700, "frame"},
          {101, "grid"},
          {410, "button"},
          {411, "button"},
          {412, "button"},
          {413, "button"},
          {402, "button"}}},
        {"MiMsgGet",
         {{700, "frame"},
          {701, "frame"},
          {600, "bitmap"},
          {101, "text"},
          {102, "entry"},
          {201, "button"},
          {202, "button"}}},
        {"Impres2", {{101, "radio"}, {102, "radio"}, {201, "button"}, {202, "button"}}},
        {"CALEND2", merge({range(120, 131, "month"),
                           {{110, "button"},
                            {701, "frame"},
                            {113, "bitmap"},
                            {114, "bitmap"},
                            {702, "frame"},
                            {106, "text"},
                            {105, "text"},
                            {200, "button"}}})},
        {"Impres1", merge({range(102, 108, "entry"),
                           range(109, 111, "radio"),
                           range(201, 204, "button"),
                           {{700, "frame"},
                            {701, "frame"},
                            {702, "frame"},
                            {101, "combo"},
                            {104, "combo"},
                            {112, "combo"},
                            {113, "combo"},
                            {413, "button"},
                            {401, "button"}}})},
        {"Dlg_cgFuente",
         merge(
             {range(102, 106, "radio"),
              {{700, "frame"}, {701, "frame"}, {101, "entry"}, {400, "button"}, {402, "button"}}})},
    };
    return table;
}

// The controls of one template file as the loader builds them.
Controls controlsOf(const QString& name) {
    QFile f(tk::ResourceLibrary::templatePath(name));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << name.toStdString();
    QUiLoader loader;
    std::unique_ptr<QWidget> root(loader.load(&f));
    Controls out;
    if (!root) return out;
    for (QWidget* w : root->findChildren<QWidget*>()) {
        if (!w->property("ctlId").isValid()) continue;
        const int id = w->property("ctlId").toInt();
        EXPECT_EQ(out.count(id), 0u) << name.toStdString() << ": ID " << id << " twice";
        out[id] = tk::controlKind(w).toStdString();
    }
    return out;
}

TEST(TemplateCheck, EveryTemplateHasExactlyTheControlsTheProgramUses) {
    std::set<std::string> inBundle;
    for (const QString& n : tk::ResourceLibrary::templateNames()) inBundle.insert(n.toStdString());
    for (const auto& [name, controls] : expected()) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(inBundle.count(name)) << "missing template " << name;
        const Controls got = controlsOf(QString::fromStdString(name));
        for (const auto& [id, kind] : controls) {
            auto it = got.find(id);
            if (it == got.end()) {
                ADD_FAILURE() << name << ": control " << id << " (" << kind << ") missing";
                continue;
            }
            EXPECT_EQ(it->second, kind) << name << ": control " << id;
        }
        for (const auto& [id, kind] : got)
            EXPECT_TRUE(controls.count(id))
                << name << ": control " << id << " (" << kind << ") not expected";
    }
    for (const std::string& n : inBundle)
        EXPECT_TRUE(expected().count(n)) << "template not checked: " << n;
}

TEST(TemplateCheck, EveryDialogTemplateBuildsWithItsPagesAndPictures) {
    for (const auto& [name, controls] : expected()) {
        const QString n = QString::fromStdString(name);
        QFile f(tk::ResourceLibrary::templatePath(n));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        if (!f.readAll().contains("class=\"QDialog\"")) continue;  // a folder page
        SCOPED_TRACE(name);
        tk::Dialog d(n);
        EXPECT_EQ(d.templateName(), n);
        for (const auto& [id, kind] : controls)
            if (kind == "folder") {
                EXPECT_GT(d.pageCount(id), 0);
            }
    }
}

TEST(TemplateCheck, MissingTemplateIsAnError) {
    EXPECT_THROW(tk::Dialog d(QStringLiteral("NoExisteDlg")), xb::Break);
    tk::Dialog d(QStringLiteral("Dlg_Vend"));
    EXPECT_THROW(d.control(999), xb::Break);
}

}  // namespace
