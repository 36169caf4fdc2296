#pragma once

// One main object, built the way main() builds it, in a home of its own
// whose options file holds `conf` (see TestHome::writeConf).
#include "gravexprobe.h"
#include "testhome.h"

#include <memory>

struct GravexFixture
{
    explicit GravexFixture(const QMap<QString, QString> &conf = {})
        : gravex((home.writeConf(conf), std::make_unique<Gravex>())), probe(*gravex)
    {}

    Gravex &g() { return *gravex; }

    TestHome home;
    std::unique_ptr<Gravex> gravex;
    GravexProbe probe;
};
