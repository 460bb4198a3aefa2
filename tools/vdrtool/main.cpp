// vdrtool: the administrator's companion of the program, working on the same
// files from the command line. Messages are in Spanish; errors go to standard
// error with a non-zero exit status.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>

#include "command.h"
#include "xbase/abandon.h"
#include "xbase/codepage.h"

namespace vdrtool {

static std::vector<Command>& registry() {
    static std::vector<Command> list;
    return list;
}

void registerCommand(const Command& cmd) {
    registry().push_back(cmd);
}

const std::vector<Command>& commands() {
    auto& list = registry();
    std::sort(list.begin(), list.end(),
              [](const Command& a, const Command& b) { return std::strcmp(a.name, b.name) < 0; });
    return list;
}

int fail(const std::string& message) {
    std::cerr << "vdrtool: " << message << "\n";
    return 2;
}

static void printHelp(std::ostream& out) {
    out << "Uso: vdrtool ORDEN [ARGUMENTOS...]\n\n"
           "Herramienta del administrador de Control de Gestión Area Comercial.\n\n"
           "Órdenes:\n";
    for (const auto& c : commands()) {
        std::string head = std::string(c.name) + " " + c.usage;
        out << "  " << head;
        for (size_t n = head.size(); n < 34; ++n) out << ' ';
        out << " " << c.summary << "\n";
    }
    out << "  --help                             muestra esta ayuda\n\n"
           "Códigos de salida:\n"
           "  0  la orden se cumplió\n"
           "  1  la orden se cumplió con fallos: «check» encontró errores en la tabla,\n"
           "     «maint» no pudo hacer algunos pasos\n"
           "  2  la orden no se cumplió (uso, fichero, guión, informe, impresión o\n"
           "     error en ejecución); el motivo va a la salida de errores\n";
}

}  // namespace vdrtool

int main(int argc, char** argv) {
    using namespace vdrtool;
    if (argc < 2) {
        printHelp(std::cerr);
        return 2;
    }
    std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        printHelp(std::cout);
        return 0;
    }
    for (const auto& c : commands()) {
        if (name == c.name) {
            Args args(argv + 2, argv + argc);
            if (std::find(args.begin(), args.end(), "--help") != args.end()) {
                std::cout << "Uso: vdrtool " << c.name << " " << c.usage << "\n"
                          << c.summary << "\n";
                return 0;
            }
            try {
                return c.run(args);
            } catch (const std::exception& e) {
                return fail(e.what());
            } catch (const xb::Abandon& a) {
                // The reason is on standard error already.
                return fail("no se terminó: " + xb::cp1252ToUtf8(a.why()));
            }
        }
    }
    return fail("orden desconocida «" + name + "». Use «vdrtool --help» para ver las órdenes.");
}
