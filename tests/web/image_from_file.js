// Under Node the program's image is its module's file beside it, which the page would have
// fetched, compiled and kept (Module.kelvoImage, Module.kelvoImageName). The module is
// compiled from the same bytes: Emscripten's loader would otherwise fetch() its path, which
// a Node that has fetch refuses as a URL.
Module["kelvoImageName"] = "test_seam_contract.wasm";
Module["kelvoImage"] = require("fs").readFileSync(require("path").join(__dirname, "test_seam_contract.wasm"));
Module["wasmBinary"] = Module["kelvoImage"];
