#include "console.h"

#include <cstdlib>

namespace console {

void prepare() {}

void pause()
{
    // The command processor writes its own prompt and waits for a key; its
    // status does not change what the program does next.
    static_cast<void>(std::system("pause"));
}

} // namespace console
