#include "bench.h"

namespace benchmark {

void cpu()
{
    const auto instructions =
        benchResults({"-callgrind", "-iterations", bench.quick ? "512" : "2560"});
    const auto ms = benchResults({"-minimumvalue", "200"});
    QStringList table, figures;
    for (auto it = instructions.cbegin(); it != instructions.cend(); ++it) {
        table << row(it.key(), num(it.value()), num(ms.value(it.key()) * 1e6));
        figures << row("Instructions per datagram: " + it.key(), num(it.value()), "-", "-");
    }
    section("cpu", {"rows", table.join('\n'), "figures", figures.join('\n')});
}

} // namespace benchmark
