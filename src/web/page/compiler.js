// The worker's half of the Compile view (worker.js loads it beside the
// module): it records a compile in the module (compile_view.cpp) and
// answers each request with the state at one step, rebuilt there from the
// record.  The page never gets the record itself, only the state it draws.
//
// From the page:  {type: 'compile-open', source, step}  record, then go to that step
//                 {type: 'compile-go', step}            to a step
//                 {type: 'compile-move', motion}        a motion (COMPILE_MOTIONS)
// To the page:    {type: 'compile-opened', opened}      {error, message, line, column, last, truncated}
//                 {type: 'compile-state', state}        the state (compile_view.cpp)

const COMPILE_MOTIONS = ['token', 'routine', 'emit', 'end', 'back-token', 'back-routine', 'back-emit', 'start'];

let compileOpen = false;

function compileState(at) {
  postMessage({ type: 'compile-state', state: moduleJson(at) });
}

function compileMessage(message) {
  switch (message.type) {
  case 'compile-open': {
    let opened;
    try {
      opened = withBytes(message.source, (s, n) => moduleJson(tsumiki._tsu_cv_open(s, n)));
    } catch (thrown) {
      // As for a run (worker.js): the browser's own stack ran out in the
      // compiler, and this module is past use.
      if (!(thrown instanceof RangeError)) throw thrown;
      postMessage({ type: 'compile-opened', opened: { error: 3, message: tooDeep, line: 0, column: 0, last: 0 }, lost: true });
      close();
      return true;
    }
    compileOpen = true;
    postMessage({ type: 'compile-opened', opened });
    compileState(tsumiki._tsu_cv_go(message.step ?? 0));
    return true;
  }
  case 'compile-go':
    if (compileOpen) compileState(tsumiki._tsu_cv_go(message.step));
    return true;
  case 'compile-move':
    if (compileOpen) compileState(tsumiki._tsu_cv_move(Math.max(0, COMPILE_MOTIONS.indexOf(message.motion))));
    return true;
  default:
    return false;
  }
}
