// Process entry: UTF-8 arguments in, exit code out. An error that escapes the
// run (a log file that cannot be created, memory exhaustion) is reported on
// standard error and ends the process with exit code 1 instead of aborting.

#include "app/exit_code.h"
#include "app/framend.h"
#include "platform/arguments.h"

#include <exception>
#include <iostream>
#include <new>

int main(int argc, char** argv) {
    try {
        platform::Arguments args(argc, argv);
        Framend app;
        return app.run(args.argc(), args.argv());
    } catch (const std::bad_alloc&) {
        std::cerr << "framend: out of memory" << std::endl;
    } catch (const std::exception& e) {
        std::cerr << "framend: " << e.what() << std::endl;
    } catch (...) {
        std::cerr << "framend: unexpected error" << std::endl;
    }
    return exit_code::kFailure;
}
