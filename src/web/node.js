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

// ---------------------------------------------------------------------------
// The terminal, held as the Linux program holds it. Node.js's own raw mode
// turns off the terminal's signal keys (Ctrl-C, Ctrl-Z, Ctrl-\) and puts its
// start-up settings back at exit, so the single-key mode is set with stty:
// no line buffering, no echo, no Ctrl-V, the signal keys still the
// terminal's. The settings are read afresh each time the program takes the
// terminal over, and what was handed over is what goes back.

var childProcess = require('child_process');
var os = require('os');

// Runs shell code with the terminal on descriptor 3: its output, or null if
// it failed. (Node.js makes a child's standard input blocking, and the
// terminal's flags belong to everyone holding it.)
function onTerminal(code, argument) {
  try {
    return childProcess.execFileSync('/bin/sh', ['-c', code, 'sh', argument || ''], {
      stdio: ['ignore', 'pipe', 'ignore', 0],
      encoding: 'latin1'
    });
  } catch (error) {
    return null;
  }
}

var handedOver = null; // `stty -g` of the terminal as handed over
var singleKey = null;  // and as the program set it
var atStart = null;    // as Node.js found it at its start, if known
var givenBack = null;  // as the program last gave it back

// In the foreground of its controlling terminal. A terminal that is not the
// program's controlling one has no job control over it, so the program may
// take it. Where the process's records are not in /proc, the terminal counts
// as the program's.
function inForeground() {
  var record;
  try {
    record = fs.readFileSync('/proc/self/stat', 'latin1');
  } catch (error) {
    return true;
  }
  // pid (name) state ppid pgrp session tty_nr tpgid ...
  var fields = record.slice(record.lastIndexOf(')') + 2).split(' ');
  var group = Number(fields[2]);
  var controlling = Number(fields[4]);
  var foreground = Number(fields[5]);
  return controlling !== fs.fstatSync(0).rdev || foreground === group;
}

// Single-key mode, set only in the foreground (elsewhere the change would
// land on the shell's terminal), and only if the terminal is not still as
// the program set it, so a SIGCONT that stopped nothing changes nothing.
function takeTerminal() {
  if (!inForeground()) {
    return;
  }
  var modes = onTerminal(
    'exec <&3; current=$(stty -g) || exit; [ "$current" = "$1" ] && exit; ' +
    'stty -icanon -echo -iexten min 1 time 0 && echo "$current" && stty -g', singleKey);
  var lines = modes === null ? [] : modes.split('\n');
  if (lines.length >= 2 && lines[1] !== '') {
    handedOver = lines[0];
    singleKey = lines[1];
  }
}

// Puts the settings back as they were handed over. A process moved out of
// the foreground has already lost the terminal.
function giveBackTerminal() {
  if (handedOver !== null && inForeground()) {
    onTerminal('stty "$1" <&3', handedOver);
    givenBack = handedOver;
  }
  handedOver = null;
  singleKey = null;
}

// A read from the background stops the program until `fg` (SIGTTIN); Node.js
// reads only once input is there, so the program stops itself as such a read
// would. Where nobody can stop it, the stop is discarded and it waits on.
function stopUnlessInForeground() {
  if (!inForeground()) {
    process.kill(process.pid, 'SIGTTIN');
  }
  takeTerminal();
}

// Every signal whose default action ends the program and that is sent to end
// one, then the job-control stop: the terminal goes back as it was handed
// over, and the signal takes its default action, so the parent learns how
// the program ended or that it stopped. After a stop, or a signal nobody
// acted on, the wait goes on in single-key mode.
var passedOn = ['SIGINT', 'SIGQUIT', 'SIGTERM', 'SIGHUP', 'SIGALRM', 'SIGUSR1', 'SIGUSR2',
  'SIGVTALRM', 'SIGPROF', 'SIGXCPU', 'SIGXFSZ', 'SIGIO', 'SIGPWR', 'SIGTSTP'
].filter(function (name) {
  return name in os.constants.signals;
});

function listen() {
  passedOn.forEach(function (name) {
    process.on(name, passOn);
  });
  process.on('SIGCONT', stopUnlessInForeground);
}

function stopListening() {
  passedOn.forEach(function (name) {
    process.removeListener(name, passOn);
  });
  process.removeListener('SIGCONT', stopUnlessInForeground);
}

// With no listener left for it, Node.js gives the signal its default action.
function passOn(name) {
  giveBackTerminal();
  stopListening();
  process.kill(process.pid, name);
  listen();
  takeTerminal();
}

// How long the rest of a key's escape sequence may take once its first byte
// is in, as on Linux.
var restOfKeyMs = 100;

// Whether the bytes read so far make one whole key press: the program's own
// rule, which the Linux program uses too.
function isWholeKey(bytes) {
  var buffer = Module['_person_key_bytes']();
  var count = Math.min(bytes.length, 16);
  HEAPU8.set(bytes.subarray(0, count), buffer);
  return Module['_person_is_whole_key'](count) !== 0;
}

// One key press, whole: an arrow or function key's escape sequence included.
// What else came with it is dropped, so nothing of it is left for the shell.
function oneKey() {
  return new Promise(function (resolve) {
    var input = process.stdin;
    var key = Buffer.alloc(0);
    var timer = null;
    function done() {
      clearTimeout(timer);
      input.removeListener('data', take);
      input.removeListener('end', done);
      input.removeListener('error', done);
      input.pause();
      stopListening();
      giveBackTerminal();
      resolve();
    }
    function take(bytes) {
      key = Buffer.concat([key, bytes]);
      clearTimeout(timer);
      if (isWholeKey(key)) {
        done();
      } else {
        timer = setTimeout(done, restOfKeyMs);
      }
    }
    input.on('data', take);
    input.on('end', done);
    input.on('error', done);
    // Taken over before the prompt if the program was in the foreground;
    // from the background, only once it is brought there.
    if (handedOver === null) {
      stopUnlessInForeground();
    }
    input.resume();
  });
}

// At exit Node.js puts back the terminal's settings from its own start,
// which would undo a change made at the shell while the program was stopped.
// Then the program, which has given the terminal back itself, leaves Node.js
// no terminal to reset.
function keepTerminalAsGivenBack() {
  if (givenBack !== null && givenBack !== atStart) {
    [0, 1, 2].forEach(function (fd) {
      if (tty.isatty(fd)) {
        fs.closeSync(fd);
      }
    });
  }
}

// Before the prompt: the signals are the program's to pass on, and the
// terminal is in single-key mode by the time the prompt shows.
Module.prepareForKey = function () {
  if (tty.isatty(0)) {
    process.on('exit', keepTerminalAsGivenBack);
    listen();
    takeTerminal();
    // Moments after the start, in the foreground: as Node.js found it. (Started
    // in the background, the program does not know, and leaves Node.js
    // nothing to reset.)
    atStart = handedOver;
  }
};

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
