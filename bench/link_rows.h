// One row of a prospect's list tables (1 products offered, 2 contacts,
// 3 products sold) as the benchmarks' generated companies hold them: the
// k-th of the prospect's rows in table `t`, its product drawn from `rng`.
#pragma once

#include <random>

#include "bench_support.h"
#include "dbf/workarea.h"
#include "prospects/card.h"
#include "prospects/rows.h"

inline void appendLinkRow(dbf::WorkArea& d, int t, int k, const prospects::Link& l,
                          std::mt19937& rng) {
    using namespace prospects;
    d.append();
    putS(d, "NUMPROSP", l.numprosp);
    putS(d, "CLIENTE", l.codprosp);
    putD(d, dateField(t), l.fecCrea);
    putS(d, "VENDEDOR", l.codvend);
    if (t == 2) {
        putS(d, "TIPO", "Personal");
        putS(d, "RESULTADO", "INTERESADO");
        putN(d, "NT", 1);
    } else {
        putS(d, "CODPROD", fmt("PR%04u", static_cast<unsigned>(rng() % 500)));
        putN(d, "CANT", 1 + k);
        putN(d, "VALORTOT", 100.0 * (1 + k));
    }
}
