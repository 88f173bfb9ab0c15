// Read before the page's own code: starts the two slowest steps of loading,
// the WebAssembly module's compilation and the first worker's start-up, so
// that they go on while the browser reads and runs app.js.  main.js takes
// both from here.
window.tsumikiStart = {
  module: fetch('tsumiki.wasm')
    .then((response) => {
      if (!response.ok) throw new Error(`tsumiki.wasm: ${response.status}`);
      return response.arrayBuffer();
    })
    .then((bytes) => WebAssembly.compile(bytes)),
  worker: new Worker('worker.js'),
};
