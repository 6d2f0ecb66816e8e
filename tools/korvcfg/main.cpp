// korvcfg: find, read and write the devices from a terminal or a script.
#include <iostream>
#include <string>

int main(int argc, char** argv) {
    const std::string first = argc > 1 ? argv[1] : "";
    if (first == "--version") {
        std::cout << "korvcfg " << KORVCFG_VERSION << "\n";
        return 0;
    }
    std::cout << "usage: korvcfg scan|read|write|apply ... (see korvcfg COMMAND --help)\n";
    return first == "--help" ? 0 : 2;
}
