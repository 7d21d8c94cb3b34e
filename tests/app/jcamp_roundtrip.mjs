// Reads sample.jdx with the jcampconverter package and compares its x/y
// values with the CSV written from the same spectrum.
// Usage: node jcamp_roundtrip.mjs FOLDER NODE_MODULES_PARENT
import { createRequire } from 'node:module';
import { readFileSync } from 'node:fs';

const [folder, modules] = process.argv.slice(2);
let convert;
try {
  ({ convert } = createRequire(`${modules}/`)('jcampconverter'));
} catch (e) {
  console.log(`SKIPPED: the npm package jcampconverter is not installed in ${modules} ` +
              `(scripts/deps --node could not reach the npm registry): ${e.message}`);
  process.exit(77);
}
const result = convert(readFileSync(`${folder}/sample.jdx`, 'utf8'));
const spectrum = result.flatten[0]?.spectra[0];
if (!spectrum) {
  console.log('FAILED: no spectrum read from sample.jdx');
  process.exit(1);
}
const rows = readFileSync(`${folder}/sample.csv`, 'utf8').trim().split('\n');
if (rows.shift() !== 'wavelength_nm,counts,std') {
  console.log('FAILED: CSV header');
  process.exit(1);
}
const { x, y } = spectrum.data;
let failures = 0;
if (x.length !== rows.length || y.length !== rows.length) {
  console.log(`FAILED: ${x.length} x and ${y.length} y values for ${rows.length} points`);
  process.exit(1);
}
rows.forEach((row, i) => {
  const [wl, counts] = row.split(',').map(Number);
  // Equal up to the reader's own rounding: it rebuilds x from FIRSTX and
  // DELTAX and parses decimals digit by digit (last digit of 17).
  const near = (a, b) => Math.abs(a - b) <= 1e-12 * Math.max(1, Math.abs(b));
  if (!near(x[i], wl) || !near(y[i], counts)) {
    console.log(`FAILED at ${i}: read ${x[i]}, ${y[i]}; written ${wl}, ${counts}`);
    ++failures;
  }
});
if (spectrum.xUnits !== 'NANOMETERS' || spectrum.yUnits !== 'COUNTS' || result.flatten[0].dataType !== 'UV/VIS SPECTRUM') {
  console.log(`FAILED: units ${spectrum.xUnits} / ${spectrum.yUnits}, type ${result.flatten[0].dataType}`);
  ++failures;
}
// Transmittance (a fraction in the file, percent in the CSV) and absorbance:
// the valid points only, as ##XYPOINTS=(XY..XY). jcampconverter (12.5.3)
// reads (XY..XY) pairs under ##PEAK TABLE only, so the label is renamed for it;
// the pairs, units and point count are its own reading.
for (const [name, units, scale] of [['absorbance', 'ABSORBANCE', 1], ['transmittance', 'TRANSMITTANCE', 100]]) {
  const text = readFileSync(`${folder}/${name}.jdx`, 'utf8');
  if (!text.includes('\n##XYPOINTS=(XY..XY)\n')) {
    console.log(`FAILED: ${name}: no ##XYPOINTS=(XY..XY)`);
    ++failures;
    continue;
  }
  const read = convert(text.replace('##XYPOINTS=(XY..XY)', '##PEAK TABLE=(XY..XY)')).flatten[0]?.spectra[0];
  const valid = readFileSync(`${folder}/${name}.csv`, 'utf8').trim().split('\n').slice(1)
    .map((row) => row.split(',')).filter(([, v]) => v !== '').map(([x, v]) => [Number(x), Number(v)]);
  if (!read || read.yUnits !== units || read.data.x.length !== valid.length || valid.length < 100) {
    console.log(`FAILED: ${name}: ${read?.yUnits}, ${read?.data.x.length} points for ${valid.length}`);
    ++failures;
    continue;
  }
  valid.forEach(([x, v], i) => {
    if (Math.abs(read.data.x[i] - x) > 1e-9 || Math.abs(read.data.y[i] * scale - v) > 1e-9 * scale) {
      console.log(`FAILED: ${name} at ${i}: read ${read.data.x[i]}, ${read.data.y[i]}; written ${x}, ${v}`);
      ++failures;
    }
  });
}
console.log(failures ? `${failures} differences` : `${rows.length} points and the T and A files read back equal`);
process.exit(failures ? 1 : 0);
