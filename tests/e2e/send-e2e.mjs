// End-to-end delivery: brisko-cli sends a three-recipient campaign, with placeholders in
// both bodies, to a local SES emulator; the emulator's own store must then hold three
// messages with the right To addresses, subject and merged bodies.
//
// Usage: node send-e2e.mjs PATH/TO/brisko-cli
// Everything runs on the loopback address, and every wait is bounded.

import { execFile } from 'node:child_process';
import { mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

const require = createRequire(import.meta.url);
const startEmulator = require('aws-ses-v2-local').default;

const cli = process.argv[2];
if (!cli) {
  console.error('usage: node send-e2e.mjs PATH/TO/brisko-cli');
  process.exit(2);
}

const failures = [];
function check(condition, what) {
  if (condition) {
    console.log(`ok: ${what}`);
  } else {
    console.log(`FAILED: ${what}`);
    failures.push(what);
  }
}

function run(args, env) {
  return new Promise((resolve) => {
    execFile(cli, args, { env, timeout: 60_000 }, (error, stdout, stderr) => {
      resolve({ status: error ? (error.code ?? -1) : 0, stdout, stderr, killed: error?.killed ?? false });
    });
  });
}

const recipients = [
  { EMAIL: 'ada@example.com', NAME: 'Ada', CODE: 'A-17' },
  { EMAIL: 'grace@example.org', NAME: 'Grace', CODE: 'G-42' },
  { EMAIL: 'linus+news@example.net', NAME: 'Linus', CODE: 'L-99' },
];
const subject = 'Grüße from the spring campaign';
const campaign = {
  subject,
  from: 'Brisko Test <sender@example.com>',
  replyTo: 'replies@example.com',
  body: 'Hello __NAME__,\nyour code is __CODE__ and we write to __EMAIL__.',
  html: '<p>Hello <b>__NAME__</b>, your code is <i>__CODE__</i>.</p>',
  recipients,
};

const home = mkdtempSync(join(tmpdir(), 'brisko-e2e-'));
const server = await startEmulator({ host: '127.0.0.1', port: 0 });
const endpoint = `http://127.0.0.1:${server.address().port}`;
console.log(`emulator listening at ${endpoint}`);

let status = 1;
try {
  const env = {
    ...process.env,
    HOME: home,
    XDG_CONFIG_HOME: join(home, '.config'),
    AWS_ACCESS_KEY_ID: 'AKIDE2ETEST',
    AWS_SECRET_ACCESS_KEY: 'e2e/Secret+Key',
    AWS_REGION: 'us-east-1',
  };
  const json = join(home, 'campaign.json');
  const file = join(home, 'campaign.brisko');
  writeFileSync(json, JSON.stringify(campaign));
  const created = await run(['create', file, '--json', json], env);
  check(created.status === 0, `brisko-cli create exits 0 (${created.stderr.trim()})`);

  const started = Date.now();
  const sent = await run(['send', file, '--yes', '--rate', '5', '--endpoint', endpoint, '--timeout', '20'], env);
  const seconds = (Date.now() - started) / 1000;
  process.stdout.write(sent.stderr);
  check(sent.status === 0, `brisko-cli send exits 0 (status ${sent.status}${sent.killed ? ', killed' : ''})`);
  check(
    sent.stdout === recipients.map((r) => `${r.EMAIL}\taccepted\tSuccess!\n`).join(''),
    `one accepted line per recipient, in order:\n${sent.stdout}`,
  );
  // At 5 per second the third message leaves at 0.6 s and the run ends at 0.8 s.
  check(seconds >= 0.6, `paced at 5 per second (took ${seconds.toFixed(2)} s)`);

  const response = await fetch(`${endpoint}/store`, { signal: AbortSignal.timeout(5000) });
  const store = await response.json();
  const emails = store.emails ?? [];
  check(emails.length === 3, `the emulator stored 3 messages (got ${emails.length})`);
  for (const r of recipients) {
    const found = emails.filter((e) => (e.destination?.to ?? []).includes(r.EMAIL));
    check(found.length === 1, `one message To ${r.EMAIL}`);
    const email = found[0];
    if (!email) continue;
    check(email.subject === subject, `subject of ${r.EMAIL}: ${JSON.stringify(email.subject)}`);
    check(email.from.includes('sender@example.com'), `From of ${r.EMAIL}: ${email.from}`);
    check((email.replyTo ?? []).join() === 'replies@example.com', `Reply-To of ${r.EMAIL}`);
    const text = email.body?.text ?? '';
    const html = email.body?.html ?? '';
    check(
      text.includes(`Hello ${r.NAME},\nyour code is ${r.CODE} and we write to ${r.EMAIL}.`),
      `merged plain body of ${r.EMAIL}: ${JSON.stringify(text)}`,
    );
    check(
      html.includes(`<p>Hello <b>${r.NAME}</b>, your code is <i>${r.CODE}</i>.</p>`),
      `merged HTML body of ${r.EMAIL}: ${JSON.stringify(html)}`,
    );
    check(!text.includes('__') && !html.includes('__'), `no placeholder left for ${r.EMAIL}`);
  }
  status = failures.length === 0 ? 0 : 1;
} catch (error) {
  console.log(`FAILED: ${error?.stack ?? error}`);
  status = 1;
} finally {
  server.close();
  server.closeAllConnections?.();
  rmSync(home, { recursive: true, force: true });
}
console.log(failures.length === 0 && status === 0 ? 'end-to-end delivery: passed' : `end-to-end delivery: ${failures.length} check(s) failed`);
process.exit(status);
