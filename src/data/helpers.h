// The table helpers: opening with retry, bags, locks with a visible wait,
// structures and the creation or upgrade of a table to its template, the
// field buffer, and the small dialogs and utilities of the data layer. Each is
// also registered in the language under its name (registerDataFunctions).
//
// They work on the current work area unless told otherwise and leave the
// caller's area selected except where stated. Texts are Windows-1252.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "data/structures.h"
#include "xbase/value.h"

namespace data {

// ---- opening, closing, indexes

// Opens `file` under `alias` in a free work area, exclusive when `mode`
// begins with "E"/"e", shared otherwise, then its bags (0 to 6) through
// SET_INDEX. While another workstation holds the file: two attempts a second
// apart, then the question "FICHERO <name> NO ESTA DISPONIBLE. ¿ Desea
// reintentar ?" as long as the user says yes. False when the alias was open
// already or the user gave up.
bool ABRIR(const std::string& alias, const std::string& file, const std::string& mode,
           const std::vector<std::string>& bags = {});
bool USADA(const std::string& alias);
// Clears the bags of the current area and opens `bags` (up to six) in order,
// recording them in INDICES.
bool SET_INDEX(const std::vector<std::string>& bags);
// Creates in `bag` the tag `tag` on `key` over the records without the
// deletion mark, on `table` opened exclusively under the alias EL_FILE.
int INDEXA(const std::string& table, const std::string& bag, const std::string& key,
           const std::string& tag, bool unique = false);
void CERRAR(const std::optional<std::string>& alias = std::nullopt);
void RECU_IND();

// ---- locks

bool REC_LOCK(std::optional<int> tries = std::nullopt);
bool PROTEGER(int wait);
void DESPROTEGER();
bool NETERROR();
// Sets the session's pending network-error flag (the engine's failure to
// open or append because another workstation holds the file).
void setNetError();

// ---- names of files

std::string QUITAR_CAM(const std::string& path);
std::string QUITAR_EXT(const std::string& name);
std::string NAME(const std::string& path);

// ---- structures and tables

std::vector<FieldSpec> CREARDBF(const std::string& templ, bool noCreate = false);
bool IGUALEST(const std::vector<FieldSpec>& a, const std::vector<FieldSpec>& b);
// `templ` is a template name; CREA_FIC with a structure list is the overload.
void CREA_FIC(const std::string& templ, const std::string& file, const std::string& scratchDir);
void CREA_FIC(const std::vector<FieldSpec>& structure, const std::string& file,
              const std::string& scratchDir);

// Structure lists as the language holds them: {{"NAME","C",8,0},...}.
xb::Value structureValue(const std::vector<FieldSpec>& s);
// Throws std::invalid_argument when `v` is not such a list.
std::vector<FieldSpec> structureFromValue(const xb::Value& v);

// ---- field buffer

void INIC_VAR();
void IGUAL_VAR();
void REPL_VAR();
void LIB_VAR();
void AREG(const xb::Value& values, bool noAppend = false);

// ---- small dialogs and utilities

std::string DECIS(const std::string& question);
void PARE(const std::string& message);
void CGBELL();
// The alert dialog with the defaults (button "&Aceptar", title "Atención...").
int alertDialog(const std::string& message, const std::string& title = {},
                const std::vector<std::string>& buttons = {});
xb::Value EVALUA(const std::string& text);
void CICLO(const std::string& actionText, const std::string& conditionText);
double DIV_ZERO(double a, double b);
xb::Value ESTATICA(const std::string& name, const std::optional<xb::Value>& value);
std::string GETNEWALIAS(const std::string& prefix);
void CHECKALIAS(const std::string& title = {});
void REGULAAREA(const std::string& alias);

// The 14 digits of the local time now (yyyymmddhhmmss): a new prospect's
// number, from the card and from an import alike.
std::string clockNumber();

// The pause between ABRIR's open attempts (1000 ms; tests shorten it).
void setOpenRetryPause(int ms);

// Clears the session-long state of ESTATICA and GETNEWALIAS (tests).
void resetHelperState();

}  // namespace data
