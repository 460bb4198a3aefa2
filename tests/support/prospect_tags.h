// The nine tags of the prospects' bag in their creation order, for the tests
// and benchmarks that build them on the engine alone.
#pragma once

struct ProspectTag {
    const char* name;
    const char* key;
    bool unique;
};

inline constexpr ProspectTag kProspectTags[] = {
    {"CodProsp", "CODPROSP", false},
    {"Nombre", "NOMBRE", false},
    {"CodVend", "CODVEND+CODPROSP", false},
    {"FecCrea", "dtos(FEC_CREA)", false},
    {"Tipo", "TIP", false},
    {"ProspUniq", "CODPROSP", true},
    {"VendUniq", "CODVEND", true},
    {"CategCod", "CAT+CODPROSP", false},
    {"NumProsp0", "NUMPROSP+CODPROSP+DtoS(FEC_CREA)+CODVEND", false},
};
