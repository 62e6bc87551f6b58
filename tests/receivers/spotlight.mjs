// Sentry's Spotlight sidecar as a collector on loopback for the tests: it takes envelopes at
// /api/<project>/envelope/ and streams what it parsed at /stream (server-sent events), each raw
// envelope again at /envelope/<id>.
//
//   node spotlight.mjs      prints the port it listens on, 127.0.0.1 only; stops on SIGTERM
//
// Started through the package's library entry, never its command line: that one starts
// Spotlight's own Sentry client, which reports to Sentry; the library leaves it uninitialised,
// so its spans and captured errors go nowhere.
import net from "node:net";
import { setupSpotlight } from "@spotlightjs/spotlight";

// The sidecar's server listens on every interface; this one takes nothing from elsewhere.
const listen = net.Server.prototype.listen;
net.Server.prototype.listen = function (port, host, ...rest) {
  if (typeof port === "number" && typeof host !== "string") return listen.call(this, port, "127.0.0.1", host, ...rest);
  return listen.call(this, port, host, ...rest);
};
let server;
try {
  // Port 0: the system's choice, and no probe of another sidecar on the usual port.
  server = await setupSpotlight({ port: 0, isStandalone: true });
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
