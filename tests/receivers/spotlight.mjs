// Sentry's Spotlight sidecar as a collector on loopback for the tests: it takes envelopes at
// /api/<project>/envelope/ and streams what it parsed at /stream (server-sent events), each raw
// envelope again at /envelope/<id>.
//
//   node spotlight.mjs [--ui]   prints the port it listens on, 127.0.0.1 only; stops on SIGTERM;
//                               with --ui it also serves its pages, as a team would see them
//
// Started through the package's library entry, never its command line: that one starts
// Spotlight's own Sentry client, which reports to Sentry; the library leaves it uninitialised,
// so its spans and captured errors go nowhere.
import { readFileSync } from "node:fs";
import net from "node:net";
import { dirname, join } from "node:path";
import { fileURLToPath } from "node:url";
import { setupSpotlight } from "@spotlightjs/spotlight";

// The pages as the package's own command line serves them: its manifest's files.
function pages() {
  const ui = join(dirname(fileURLToPath(import.meta.url)), "node_modules/@spotlightjs/spotlight/dist/ui");
  const files = { "index.html": readFileSync(join(ui, "index.html")) };
  for (const entry of Object.values(JSON.parse(readFileSync(join(ui, "manifest.json"))))) {
    if (entry && typeof entry.file === "string") files[entry.file] = readFileSync(join(ui, entry.file));
  }
  return files;
}

// The sidecar's server listens on every interface; this one takes nothing from elsewhere.
const listen = net.Server.prototype.listen;
net.Server.prototype.listen = function (port, host, ...rest) {
  if (typeof port === "number" && typeof host !== "string") return listen.call(this, port, "127.0.0.1", host, ...rest);
  return listen.call(this, port, host, ...rest);
};
let server;
try {
  // Port 0: the system's choice, and no probe of another sidecar on the usual port.
  const filesToServe = process.argv.includes("--ui") ? pages() : undefined;
  server = await setupSpotlight({ port: 0, isStandalone: true, filesToServe });
} finally {
  net.Server.prototype.listen = listen;
}
const at = server?.address();
if (!at || at.address !== "127.0.0.1") {
  console.error("spotlight.mjs: the sidecar is not listening on 127.0.0.1 alone:", at);
  process.exit(1);
}
process.stdout.write(`${at.port}\n`);

// The sidecar's own handler closes the server and its streams; whatever else still holds the
// process then has half a second.
process.on("SIGTERM", () => setTimeout(() => process.exit(0), 500).unref());
