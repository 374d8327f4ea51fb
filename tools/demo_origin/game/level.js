// The demo's level data, loaded as a script so that it arrives through the
// local server like every other resource (a page from another origin may load
// scripts and images from it, but not read it with fetch).
window.QuilletDemoLevel = {name: "First steps", tiles: ["tile-1.png", "tile-2.png", "tile-3.png", "tile-4.png"]};
