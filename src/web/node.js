// The program under Node.js (`node person.js`): the host side of the web
// platform layer, on the process's own descriptors. Bytes go out exactly as
// the program wrote them; the pause reads input as the Linux program does.
// Nothing here reports an error: a failed write is the program's to ignore.
var fs = require('fs');
var tty = require('tty');

// Blocks this thread for a moment, for a descriptor its owner made
// non-blocking: its flags are shared with the parent and stay as they are.
function nap() {
  Atomics.wait(new Int32Array(new SharedArrayBuffer(4)), 0, 0, 5);
}

Module.writeBytes = function (fd, bytes) {
  var done = 0;
  while (done < bytes.length) {
    try {
      done += fs.writeSync(fd, bytes, done, bytes.length - done);
    } catch (error) {
      if (error.code === 'EAGAIN') {
        nap();
        continue;
      }
      return done > 0 ? done : -1;
    }
  }
  return done;
};

// A terminal: one key, unechoed, with no need for Enter. Ctrl-C still
// interrupts, once the terminal is back as it was.
function oneKey() {
  return new Promise(function (resolve) {
    var input = process.stdin;
    input.setRawMode(true);
    input.once('data', function (key) {
      input.setRawMode(false);
      input.pause();
      if (key[0] === 3) {
        process.kill(process.pid, 'SIGINT');
      }
      resolve();
    });
    input.resume();
  });
}

// Redirected input: one byte ends the wait, and so do its end and any error.
// A non-blocking descriptor is tried again until it has something to say.
function oneByte() {
  return new Promise(function (resolve) {
    var byte = Buffer.alloc(1);
    (function attempt() {
      try {
        fs.readSync(0, byte, 0, 1, null);
      } catch (error) {
        if (error.code === 'EAGAIN') {
          setTimeout(attempt, 5);
          return;
        }
      }
      resolve();
    })();
  });
}

Module.waitForKey = function () {
  return tty.isatty(0) ? oneKey() : oneByte();
};
