// The file browser and the card that the salespeople and the reference
// files (products, plans, responses) share: one browser with order choice,
// new, change, delete and search, and one card that edits a copy of the
// record and saves it with the code kept unique. Each file is described by a
// FileSpec; the files differ only in what their descriptions say.
#pragma once

#include <QColor>
#include <QString>
#include <QStringList>
#include <string>
#include <vector>

#include "ui/search.h"
#include "xbase/value.h"

class QWidget;

namespace tk {
class Browse;
}

namespace ui {

struct ButtonText {
    QString message;  // status-bar message
    QString tooltip;  // empty: the message
    QString bitmaps;  // "Normal|Pressed"; empty keeps the template's
};

struct FileColumn {
    QString header;
    std::string field;
    int order = 0;  // the order whose key this column shows (0 none)
};

struct CardField {
    int id;             // control of the card
    std::string field;  // field of the table
    std::string picture;
};

struct FileSpec {
    // The table: alias, the session variables naming its file and bag.
    std::string alias, tableVar, bagVar;
    QString caption;         // browser caption (template "BrowseIn1")
    QStringList orderItems;  // drop-down 102: first item = order 1, second = order 2
    std::vector<FileColumn> columns;
    ButtonText nuevo, modificar, borrar, buscar, salir;
    // Search choices and the expressions they look in.
    std::vector<std::string> searchLabels, searchFields;
    // Button look: hover text colour and background.
    QColor buttonBack{160, 160, 160};

    // The card.
    QString cardTemplate, cardCaption;
    std::vector<CardField> cardFields;  // the first is the code, the second the name
    ButtonText aceptar;
    ButtonText cancelar{QStringLiteral("Cancela inclusión datos"), {}, {}};
    std::string codeLabel =
        "C\xf3"
        "digo";                        // CHKDUP's label
    std::string codeField = "Codigo";  // CHKDUP's field

    std::string deleteQuestion;  // Windows-1252
};

// The browser: opens the table with ABRIR, shows the dialog, closes the table.
void browseFile(const FileSpec& file, QWidget* owner = nullptr);
// The card over the current record ("M") or a new one ("I"), with LREG
// private to it. True when it saved.
bool fileCard(const FileSpec& file, const std::string& mode, QWidget* owner = nullptr);
// The save of a card: values in the order of file.cardFields.
SaveResult saveFile(const FileSpec& file, const std::string& mode,
                    const std::vector<xb::Value>& values);
// The delete of the browser's current record after the bell and the
// question; refreshes `browse` when given. True when a record was deleted.
bool deleteFile(const FileSpec& file, tk::Browse* browse);

// The browse of the innermost file browser open (nullptr when none).
tk::Browse* currentFileBrowse();

// Registers a file's browser, card, save and delete under their names (the
// delete acts on the innermost file browser open).
void registerFileFunctions(const std::string& browser, const std::string& card,
                           const std::string& save, const std::string& remove,
                           const FileSpec& (*file)());

}  // namespace ui
