// The program under Node.js: main waits for a key, so it returns long after
// it is called. It is called as the asynchronous function it is, and what it
// returns becomes the process's exit status.
Module.noInitialRun = true;
Module.onRuntimeInitialized = function () {
  Module.ccall('main', 'number', [], [], { async: true }).then(function (status) {
    process.exitCode = status;
  });
};
