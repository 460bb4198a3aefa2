// The session: the settings fixed at start-up and the session variables every
// part of the program shares, created as public variables of the language.
// The program's start-up (src/app) calls startSession() once, before the main
// window exists; vdrtool and tests call it too, so that the helpers find the
// same variables as in the program.
#pragma once

#include <string>

#include "xbase/value.h"

namespace data {

// Name under which the table engine is registered and made the default.
inline constexpr const char* kDriverName = "CDXLOCAL";
// The script folder.
inline constexpr const char* kScriptFolder = ".\\Prueba";
// Folder of the start directory holding one subfolder per workstation.
inline constexpr const char* kWorkstationRoot = "Terminales";
// Number of work areas the per-area bookkeeping covers.
inline constexpr int kAreas = 15;

// Exclusive off, century on, dates "dd-mm-yyyy", epoch 1940, confirm on,
// deleted on, "CDXLOCAL" as the default driver, and room for at least 99 open
// files.
void applySessionSettings();
// The default driver's name as registered.
const std::string& defaultDriver();

// Creates the session variables with their initial values (USERTERMIN from
// `workstation`, upper-cased and followed by "\"), creates the workstation
// folder root and the workstation's folder in it when missing, and declares
// the table-name variables (PUBLIBASES). Returns false with nothing created
// when the workstation folder cannot be made (the message goes to the
// interaction's stop box).
bool PUBLICAR(const std::string& workstation);
// The variables of PUBLICAR without the workstation folder (vdrtool), and
// the language's door to the session's work areas.
void createSessionVariables(const std::string& workstation);
// Creates the script folder G_PRUEBA when missing.
void HACEPRUEBA();
// Declares the eighteen table-name and bag variables, without values.
void PUBLIBASES();
// Sets them from G_CAMINO.
void NOMBBASES();
// Today as the session shows it: "dd-mm-yyyy".
std::string todayText();
// A font description as the session's font variables hold it (class TFONT:
// cFaceName, nWidth, nHeight).
xb::Value fontDescription(const std::string& face, int width, int height);

// The workstation's own settings, one "NAME=value" line each in the file
// "cgPuesto.mem" of its folder of the workstation root (USERTERMIN). An
// absent setting reads as `otherwise`; a write replaces the whole file so
// that a crash leaves the old one or the new one. False when it could not.
inline constexpr const char* kStationSettingsFile = "cgPuesto.mem";
std::string stationSetting(const std::string& name, const std::string& otherwise = {});
bool setStationSetting(const std::string& name, const std::string& value);

// applySessionSettings, PUBLICAR, G_FECHA; then registers the data layer's
// functions in the language (registerDataFunctions). False when PUBLICAR was.
bool startSession(const std::string& workstation);

// Makes every function of the data layer callable by name from the language
// (PUBLICAR, HACEPRUEBA, PUBLIBASES, NOMBBASES and all the table helpers and
// maintenance procedures). Needed again after xb::resetRuntime().
void registerDataFunctions();

}  // namespace data
