// Included first by every Objective-C++ file of the project. They keep Foundation objects and
// blocks in C++ members, captures and properties and rely on ARC to retain and release them;
// built without it they compile and then leak or use freed objects, so such a build stops here.
#pragma once

#if !__has_feature(objc_arc)
#error "this file relies on ARC: compile it with -fobjc-arc"
#endif
