// A picture of a report as the team sees it: Spotlight's page of the one error it took, in
// Debian's Chromium, which reaches nothing but the sidecar on loopback.
//
//   node screenshot.mjs PORT OUT.png
import { chromium } from "playwright-core";

const [port, out] = process.argv.slice(2);
const browser = await chromium.launch({
  executablePath: "/usr/bin/chromium",
  args: ["--no-sandbox", "--host-resolver-rules=MAP localhost 127.0.0.1, MAP * ~NOTFOUND, EXCLUDE 127.0.0.1",
         "--disable-background-networking", "--disable-component-update"],
});
try {
  const page = await browser.newPage({ viewport: { width: 1400, height: 1000 } });
  await page.goto(`http://localhost:${port}/telemetry/errors`);
  await page.getByText(/^Error \d+$/).first().click({ timeout: 15000 });
  await page.waitForLoadState("networkidle");
  await page.waitForTimeout(1000);
  await page.screenshot({ path: out, fullPage: true });
} finally {
  await browser.close();
}
