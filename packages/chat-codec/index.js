'use strict';
// Loads quorvel_chat_codec.node: prebuilds/<platform>-<arch>/ in this package, or a build/
// folder beside it. A missing binary throws an error naming this folder and the platform.
module.exports = require('node-gyp-build')(__dirname);
