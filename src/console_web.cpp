#include "console.h"
#include "key_sequence.h"

#include <cstddef>

#include <emscripten.h>
#include <unistd.h>
#include <wasi/api.h>

// In a web page, or under Node.js, the program has no terminal of its own:
// whoever starts it lends it one through two functions on its Module object.
//
//   Module.writeBytes(fd, bytes): writes the bytes (a Uint8Array view of the
//       program's memory, valid only during the call) and returns how many
//       were taken, or a negative number if none could be;
//   Module.waitForKey(): a promise that settles once a key was pressed, or
//       once redirected input gave a byte, ended or failed;
//   Module.prepareForKey() (optional): called before the prompt goes out, so
//       that a terminal is in single-key mode by the time the prompt shows.
//
// The page shows the bytes in its console and settles the promise on a key
// press; the Node.js launcher writes them to the process's own descriptors
// and reads its standard input.

namespace {

EM_JS(int, write_to_host, (int fd, const unsigned char* data, std::size_t size), {
    return Module.writeBytes(fd, HEAPU8.subarray(data, data + size));
});

EM_JS(void, prepare_for_key, (), {
    if (Module.prepareForKey) {
        Module.prepareForKey();
    }
});

// The program's only asynchronous step: the wait unwinds the program's stack
// and rewinds it once the promise settles.
EM_ASYNC_JS(void, wait_for_key, (), {
    await Module.waitForKey();
});

// A host that reads a terminal byte by byte (Node.js) asks the same rule as
// the Linux program whether the bytes read so far make one whole key press:
// it puts them in key_bytes and passes their count. Only the Node.js program
// exports the two functions; the page's keys come whole.
unsigned char key_bytes[16];

} // namespace

extern "C" unsigned char* person_key_bytes()
{
    return key_bytes;
}

extern "C" int person_is_whole_key(std::size_t count)
{
    return console::is_whole_key(key_bytes, count < sizeof key_bytes ? count : sizeof key_bytes);
}

// Every write of the C and C++ libraries (std::cout's included) ends here:
// the bytes go to the host as they are. Emscripten's own output path would
// decode them as UTF-8 and break every GBK character.
extern "C" __wasi_errno_t __wasi_fd_write(__wasi_fd_t fd, const __wasi_ciovec_t* pieces,
                                          std::size_t count, __wasi_size_t* written)
{
    __wasi_size_t total = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const int taken = write_to_host(static_cast<int>(fd), pieces[i].buf, pieces[i].buf_len);
        if (taken < 0) {
            if (total == 0) {
                return __WASI_ERRNO_IO;
            }
            break;
        }
        total += static_cast<__wasi_size_t>(taken);
        if (static_cast<std::size_t>(taken) < pieces[i].buf_len) {
            break;
        }
    }
    *written = total;
    return __WASI_ERRNO_SUCCESS;
}

namespace console {
namespace {

constexpr char prompt[] = "Press any key to continue . . . ";

// Writes as much as standard output takes; a failed write ends it quietly,
// as a failed write of the program's own lines does.
void write_all(const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(STDOUT_FILENO, data, size);
        if (written <= 0) {
            return;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

} // namespace

void prepare() {}

// The same pause as on Linux: the prompt, one key, the end of the line.
void pause()
{
    prepare_for_key();
    write_all(prompt, sizeof prompt - 1);
    wait_for_key();
    write_all("\n", 1);
}

} // namespace console
