// The bare context must stay bare: the workbook library chooses its code paths by typeof, so none of these may be
// half-defined by our components.
test("no platform stand-ins are defined", function () {
  ["TextDecoder", "TextEncoder", "atob", "btoa", "setTimeout", "Buffer", "require", "process", "module"].forEach(function (name) {
    assertEqual(typeof globalThis[name], "undefined", name);
  });
});
test("the workbook library is loaded", function () {
  assertEqual(typeof XLSX, "object");
  assert(/^0\.20\.3/.test(XLSX.version), "version " + XLSX.version);
});
