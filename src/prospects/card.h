// The prospect card's values and the work it does on the tables without a
// window: opening the card's tables, filling the workstation's three buffers
// with the prospect's rows, the totals, the rows of the three lists, the copy
// of offers into the sold list, and the code check of VALIDAPROSP.
//
// A prospect owns the rows of "ProdOfer", "Contacto" and "ProdVta" whose four
// link fields (NUMPROSP, CLIENTE, FECHA/FEC_CREA, VENDEDOR) equal its own
// NUMPROSP, CODPROSP, FEC_CREA and CODVEND. The tags NumProsp, NumCliFec and
// NumProsp2 are built on those four fields, so a prospect's rows are found by
// one seek and read while the key matches, in the order they were stored.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dbf {
class WorkArea;
}

namespace prospects {

// The four link values of a prospect.
struct Link {
    std::string numprosp;  // 14
    std::string codprosp;  // 8
    int32_t fecCrea = 0;   // julian day
    std::string codvend;   // 8
    // The key of the link tags: NUMPROSP+CLIENTE+DTOS(date)+VENDEDOR, padded.
    std::string key() const;
    bool operator==(const Link&) const = default;
};

// The prospect fields of the card, in the order the save writes them.
struct ProspectFields {
    std::string codvend, codprosp, nuevo, tip, nombre, direc, telef, fax, email, ciudad, represent,
        telfrep, encargado, numprosp;
    int32_t fecCrea = 0;
    std::string observac;
    bool vta = false;
    int32_t fecVta = 0;
    std::string cat;
    Link link() const { return {numprosp, codprosp, fecCrea, codvend}; }
    bool operator==(const ProspectFields&) const = default;
};

// Everything the card holds.
struct CardValues {
    ProspectFields p;
    std::string vendName;  // display
    std::string planOf, planOfDet;
    // first contact's values, for the contact page's display fields
    int32_t cFecCont = 0;
    std::string cTipo, cResultado, cObservac;
    int32_t cFecProx = 0;
    std::string cHorProx;
    int32_t cFecReal = 0;
    std::string cHorReal;
    // sold page
    int32_t fecVtaCopy = 0;
    std::string docum, planVt, planVtDet;
    double totalOf = 0, totalVt = 0;
    // Mode "M": the prospect's record and its fields as read when the card
    // opened, so that the save can tell another workstation's change.
    uint32_t recno = 0;
    ProspectFields stored;
    bool fromRecord = false;
    // The prospect table's record when the card opened: "&Salir" goes back.
    uint32_t openedAt = 0;
};

inline constexpr const char* kJuridica =
    "Jur\xed"
    "dica";

// Widths of the prospect fields, as the structures give them.
inline constexpr int kWNombre = 60, kWDirec = 60, kWTelef = 25, kWFax = 12, kWEmail = 60,
                     kWCiudad = 25, kWRepresent = 40, kWTelfrep = 16, kWEncargado = 40;

std::string pad(std::string s, size_t width);
std::string trimmed(const std::string& s);
bool blank(const std::string& s);

// The values of a new card: blanks, "Si", "Jurídica", "001", NUMPROSP from
// the clock as 14 digits (yyyymmddhhmmss) and today as creation date.
CardValues newCard();

// Fields of the current record of `wa` (the prospect table).
ProspectFields readProspect(dbf::WorkArea& wa);
// Writes the nineteen fields into the current (locked or appended) record.
void writeProspect(dbf::WorkArea& wa, const ProspectFields& p);
// Whether the current record holds `a`, `b`, or, byte by byte, a mix of the
// two: what a power cut leaves of a record written over another, some disk
// pages of each. Anything else was written by someone else.
bool prospectBetween(dbf::WorkArea& wa, const ProspectFields& a, const ProspectFields& b);
// TIP as the card shows it: "Jurídica" when the stored text begins with "Ju".
std::string tipShown(const std::string& stored);

// The session's table names and the workstation's buffer files.
std::string tableVar(const char* name);
std::string bufferPath(int n);  // G_CAMINO + USERTERMIN + "BufferN.dbf"
std::string workstationFolder();

// Opens "Producto", "Plan", "ProdOfer", "ProdVta", "Contacto" and
// "Respuesta" shared, with their bags; false when one could not be opened.
bool openCardTables();
void closeCardTables();

// While one lives (the prospect browser holds one while it runs), the
// card's tables and buffers stay open from one card to the next: each table
// opened, its bags marked and settled, once for all the cards instead of once
// per card. closeCardTables() and closeBuffers() then put the tables back in
// order 1 at the top, and the next card empties the buffers instead of
// making them anew. The last keeper closes them.
class CardTablesKept {
  public:
    CardTablesKept();
    ~CardTablesKept();
    CardTablesKept(const CardTablesKept&) = delete;
    CardTablesKept& operator=(const CardTablesKept&) = delete;
    static bool active();
};

// One of the card's three lists (1 products offered, 2 contacts, 3 products
// sold): the workstation's buffer it is edited in, the table that keeps its
// rows, the tag that finds a prospect's rows there, the field of the link
// date and the question asked before a row goes.
struct CardList {
    int n;
    const char* buffer;
    const char* table;
    const char* linkTag;
    const char* dateField;  // FECHA or FEC_CREA
    const char* deleteQuestion;
};
const CardList& cardList(int n);
// The open buffer of list `n`; a runtime error when it is not open.
dbf::WorkArea& listBuffer(int n);

// The same, one at a time.
const char* dependentAlias(int t);
const char* linkTag(int t);
const char* dateField(int t);

// Record numbers of the rows of dependent table `t` (open under its alias)
// with the link, in stored order, found by the link tag.
std::vector<uint32_t> linkedRows(int t, const Link& link);

// Rebuilds the three buffers from the dependent tables for `link` and opens
// them exclusively, "Buffer1" related to "Producto" by CODPROD. False when a
// buffer could not be made or opened.
bool fillBuffers(const Link& link);
void closeBuffers();

// Opens the card's tables and makes its values and buffers: mode "I" a new
// card, mode "M" the current record of "Prospecto" (its salesperson's name,
// or "ERROR..... Código no registrado...."), with the lists' values. Half
// done saves are settled first, so the card never shows two sets of rows.
bool prepareCard(const std::string& mode, CardValues& v);

// Mode "M" step 6: offered total and plan, first contact, DOCUM and sold
// plan, the copy of offers into an empty sold list, sold total.
void loadListValues(CardValues& v);
// Copies every row of "Buffer1" into "Buffer3" (CLIENTE, VENDEDOR, FECHA,
// CODPROD, CANT, VALORTOT, NUMPROSP).
void copyOffersToSold();
// Sum of VALORTOT over a buffer (1 or 3).
double bufferTotal(int n);
int bufferRows(int n);

// One row of a product list as the dialog edits it.
struct ProductRow {
    std::string code;
    std::string name;
    double qty = 1, price = 0, total = 0;
};
// The largest value VALORTOT holds (12 wide, 2 decimals).
inline constexpr double kMaxTotal = 999999999.99;
// Quantity × price, or false when it does not fit VALORTOT.
bool productTotal(double qty, double price, double& total);

// A contact's hour as its "99:99" field holds it: blank (no digit), or a
// whole hour from 00:00 to 23:59.
bool validHour(const std::string& hhmm);

// The address the desktop opens for a card's e-mail ("mailto:" and the
// address, UTF-8, percent-encoded) or telephone ("tel:" and its digits, a
// leading "+" kept); empty when the field holds no address or no digit.
std::string contactUri(const std::string& text, bool mail);

// GRABAPRODOF / GRABAPRODVT: writes a row of buffer 1 or 3 ("I" appends,
// "M" the current row) with the card's link values of this moment.
void writeProductRow(int n, const std::string& mode, const ProductRow& r, const CardValues& v);
// Deletes record `recno` of buffer `n` and packs it at once.
void deleteBufferRow(int n, uint32_t recno);

struct ContactRow {
    int32_t fecCont = 0;
    std::string tipo = "Personal";
    std::string resultado, observac;
    int32_t fecProx = 0;
    std::string horProx;
    int32_t fecReal = 0;
    std::string horReal;
    std::string codRes;
};
ContactRow readContact(dbf::WorkArea& buffer2);
// GRABACONTAC's writing part: the row of "Buffer2" and the card's display values.
void writeContactRow(const std::string& mode, const ContactRow& c, CardValues& v);
void showContact(const ContactRow& c, CardValues& v);

// VALIDAPROSP's table part: looks the code up in code order; found copies
// the client's identity into `v` and answers true; not found blanks those
// fields (EMAIL to its full width) and answers false. `changed` false (the
// code left as it was) keeps the typed fields when the code is unknown.
bool lookupClient(const std::string& code, CardValues& v, bool changed);

// Seeks `code` in `alias` in order 1, the whole code and not a beginning of
// one; answers the description field when found.
bool lookupCode(const char* alias, const std::string& code, const char* descField,
                std::string& desc);

}  // namespace prospects
