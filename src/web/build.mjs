// Assembles the playground's page in the site folder, beside the
// WebAssembly module that CMake has put there:
//
//   node build.mjs PAGE_DIR EXAMPLES_DIR NODE_MODULES SITE_DIR
//
// page/main.js and the editor it imports become one minified app.js; the
// examples (each NAME.tsu with its NAME.in) are bundled into it as data, so
// that the page fetches nothing but its own files.
import { copyFileSync, existsSync, readFileSync, readdirSync } from 'node:fs';
import { createRequire } from 'node:module';
import { join } from 'node:path';

const [pageDir, examplesDir, modulesDir, siteDir] = process.argv.slice(2);
const esbuild = createRequire(join(modulesDir, 'package.json'))('esbuild');

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

for (const file of ['index.html', 'start.js', 'style.css', 'worker.js', 'debugger.js'])
  copyFileSync(join(pageDir, file), join(siteDir, file));
