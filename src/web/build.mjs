// Assembles the playground's page in the site folder, beside the
// WebAssembly module that CMake has put there:
//
//   node build.mjs PAGE_DIR EXAMPLES_DIR NODE_MODULES SITE_DIR GUIDE...
//
// page/main.js and the editor it imports become one minified app.js; the
// examples (each NAME.tsu with its NAME.in) are bundled into it as data, so
// that the page fetches nothing but its own files.  Each guide (docs/NAME.md:
// the machine, the compiler) becomes NAME.html, which the page links to;
// their links to one another follow.
import { copyFileSync, existsSync, readFileSync, readdirSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { basename, join } from 'node:path';

const [pageDir, examplesDir, modulesDir, siteDir, ...guides] = process.argv.slice(2);
const esbuild = createRequire(join(modulesDir, 'package.json'))('esbuild');
const { marked } = createRequire(join(modulesDir, 'package.json'))('marked');

function readIfThere(path) {
  return existsSync(path) ? readFileSync(path, 'utf8') : '';
}

const examples = readdirSync(examplesDir)
  .filter((file) => file.endsWith('.tsu'))
  .sort()
  .map((file) => {
    const name = file.slice(0, -'.tsu'.length);
    return {
      name,
      source: readFileSync(join(examplesDir, file), 'utf8'),
      input: readIfThere(join(examplesDir, `${name}.in`)),
    };
  });

// `import examples from 'examples'` in the page's code.
const examplesModule = {
  name: 'examples',
  setup(build) {
    build.onResolve({ filter: /^examples$/ }, () => ({ path: 'examples', namespace: 'examples' }));
    build.onLoad({ filter: /.*/, namespace: 'examples' }, () => ({
      contents: JSON.stringify(examples),
      loader: 'json',
    }));
  },
};

await esbuild.build({
  entryPoints: [join(pageDir, 'main.js')],
  outfile: join(siteDir, 'app.js'),
  bundle: true,
  minify: true,
  format: 'iife',
  target: 'es2020',
  nodePaths: [modulesDir],
  plugins: [examplesModule],
  logLevel: 'warning',
});

for (const file of ['index.html', 'start.js', 'style.css', 'worker.js', 'debugger.js', 'compiler.js'])
  copyFileSync(join(pageDir, file), join(siteDir, file));

for (const guide of guides) {
  const name = basename(guide, '.md');
  const text = readFileSync(guide, 'utf8');
  const title = (text.match(/^# (.*)$/m) ?? ['', name])[1];
  const body = marked.parse(text).replace(/href="([a-z]+)\.md"/g, 'href="$1.html"');
  writeFileSync(join(siteDir, `${name}.html`), `<!doctype html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>tsumiki: ${title}</title>
<style>
body { max-width: 52em; margin: 1em auto; padding: 0 1em; font: 15px/1.5 system-ui, "Noto Sans CJK JP", sans-serif; color: #1d232a; }
pre, code { font-family: ui-monospace, "DejaVu Sans Mono", "Noto Sans Mono CJK JP", monospace; font-size: 13px; }
pre { background: #f4f5f7; padding: 0.5em; overflow: auto; }
table { border-collapse: collapse; font-size: 13px; }
td, th { border: 1px solid #ccd; padding: 0.2em 0.4em; vertical-align: top; }
</style>
</head>
<body>
${body}
</body>
</html>
`);
}
