// chain-replay.js: a node without WebAssembly (started with --jitless, say)
// is told so in one line, before the glue below would fail on it.
if (typeof WebAssembly !== 'object') {
  process.stderr.write('chain-replay: this node cannot run WebAssembly, which chain-replay.js needs\n');
  process.exit(1);
}
