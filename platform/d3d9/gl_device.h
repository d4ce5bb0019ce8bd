// The OpenGL side of the Direct3D 9 subset: how a device is made, how its threads get GL
// contexts, and the hooks that the D3DX layer, the effect layer and the engine use to issue
// their own GL calls against a device.
//
// Mapping rules (what a Direct3D 9 reader must know)
// - One render target (index 0). The depth surface must be at least as large as it: draws and
//   depth clears fail with D3DERR_INVALIDCALL otherwise (GL would draw only the overlap).
// - Row 0 is the top. Every context renders with glClipControl(GL_UPPER_LEFT,
//   GL_ZERO_TO_ONE): clip-space y = +1 lands in texel row 0 and depth runs 0..1. A locked
//   surface's row 0 and the first row of a read-back are the top row. Because the origin
//   flip reverses the winding, the front face is set so that Direct3D's rule holds:
//   triangles clockwise on screen are front faces, and D3DCULL_CCW (the default) culls the
//   counter-clockwise ones.
// - Pixel centres. Direct3D 9 puts them on integer window coordinates, GL on half-integers.
//   A draw sets the uniform `vec2 d3d9_pixelOffset` = (1/width, -1/height) of render target 0
//   on the program when the program declares it; the vertex stage ends with
//   `gl_Position.xy += d3d9_pixelOffset * gl_Position.w;` (the effect layer injects that line),
//   so a quad whose clip positions carry Direct3D's half-texel shift covers exactly the
//   target's texels. Exactly half a pixel, never a shifted viewport.
// - Formats. D3DFMT_A8R8G8B8 (and X8R8G8B8) is GL_RGBA8 moved as GL_BGRA +
//   GL_UNSIGNED_INT_8_8_8_8_REV, i.e. bytes B, G, R, A in memory. D3DFMT_R32F is GL_R32F,
//   sampled as (r, 1, 1, 1) through the texture swizzle. D3DFMT_A32B32G32R32F is GL_RGBA32F.
//   D3DFMT_A16B16G16R16F is GL_RGBA16F, four IEEE half floats, R first in memory.
//   D3DFMT_L8 is GL_R8 sampled as (l, l, l, 1). The implicit depth surface is GL_DEPTH24_STENCIL8.
//   LockRect/LockBox report the true pitch: rows are packed (width * bytes per texel).
// - Matrices are uploaded unchanged: a row-major Direct3D matrix read as a column-major GLSL
//   mat4 makes `M * v` in GLSL compute Direct3D's row-vector product v x M.
// - Vertex attributes take their location from the declaration's usage: POSITION 0,
//   NORMAL 1, TEXCOORD i -> 2 + i (i < 4), COLOR 6 (see attributeLocation below). Shaders
//   declare `layout(location = N) in ...` accordingly. Stream n is vertex buffer binding n.
//
// Pools and device loss
// - D3DPOOL_DEFAULT textures live only in GL (render targets cannot be locked; use
//   GetRenderTargetData), except D3DUSAGE_DYNAMIC ones, which also keep a system copy and lock
//   like managed ones. D3DPOOL_SYSTEMMEM textures are plain memory with no GL object.
//   D3DPOOL_MANAGED textures keep a system copy of every level: Lock hands out the copy and
//   Unlock uploads the changed box to GL on the calling thread.
// - Vertex and index buffers of every pool keep their data in memory; Lock/Unlock never touch
//   GL and work from any thread. The thread that draws a buffer uploads it when it changed
//   since its last upload.
// - The device counts its live default-pool objects (textures and buffers; not the implicit
//   back buffer and depth surface). resetDevice simulates Direct3D's Reset: it fails with
//   D3DERR_INVALIDCALL while any of them is alive; otherwise it destroys the GL objects of
//   every managed resource and re-creates them from their system copies, resets the device
//   state to its defaults and clears the implicit surfaces, as a real loss would.
// - Bindings (render target, depth surface, textures, streams, indices, declaration) keep a
//   bound object's memory alive but not its public reference count, as Direct3D 9 does: an
//   application may release a still-bound object, and that object no longer counts as live.
//   Surfaces of a texture and volumes of a volume texture share their container's count.
//
// Threads and contexts
// - A GL context can be current on one thread at a time, and framebuffer and vertex-array
//   objects are not shared between contexts. The device therefore gives every thread that
//   uses it its own context, all in one share group, taken from a small pool made with the
//   device (headless: surfaceless EGL contexts, grown on demand; windowed: the window's own
//   context for the thread that made the device, plus hidden GLFW windows made then, on the
//   main thread). A context is taken by a thread at its first device call (bindThreadContext)
//   and given back when the thread ends; it never moves between threads while held. The give
//   back is done by a thread-local object made at the thread's first device call, so it is
//   done before thread-local objects made earlier go: a Win32 thread's handle is signalled only
//   after the thread's context is back and its last batch published. A thread that waited for
//   the workers it started can therefore read their work and start new ones at once (windowed:
//   a new worker finds the ended workers' contexts free instead of waiting for one while it
//   holds the device's mutex).
// - The Direct3D state (render target, depth surface, declaration, streams, indices, textures,
//   sampler and render states, program) is device-wide, guarded by the device's own mutex, as
//   with a Direct3D device created for multithreaded use. Each draw applies the state it needs
//   to the calling thread's context, with that context's own framebuffer and vertex-array
//   objects, and re-applies all the GL state it depends on, so GL calls made by other layers
//   between draws cannot leak into it. One exception: a stage's texture is re-bound only when
//   it differs from what the device's last draw on the context bound there, or when the
//   context has since waited for another context's work or another layer began drawing with
//   bindBackBufferForDrawing (re-binding an unchanged texture makes Mesa revalidate the
//   draw's samplers, most of a small draw's cost). Other layers bind textures of their own
//   only after bindBackBufferForDrawing.
// - Ordering between contexts. A context's draws and clears form a batch; the batch ends, and
//   the context flushes and leaves a fence, when the drawing thread changes the render target
//   or the depth surface, reads back (GetRenderTargetData, readBackBuffer), presents, or ends,
//   and when it calls publishWrites. Uploads (texture Unlock, a buffer's first draw after a
//   change), creations and resets publish at once. Before a context does GL work
//   (bindThreadContext) it waits for every fence the other contexts left since its last wait,
//   so what one thread drew or uploaded is complete when another samples it, draws over it or
//   reads it back. Fencing every draw instead would be simpler but costs dearly: llvmpipe then
//   rasterizes each slice of a generation pass on its own, on one thread.
// - Writes after reads on other contexts. A context's open batch may still hold draws that
//   sample a texture when another thread writes it (Unlock of a managed texture, a draw or
//   clear into a render target); Direct3D 9 promises those draws the earlier contents. The
//   writing thread cannot flush the reading context (only its own thread can), and waiting for
//   that thread to end its batch could wait forever (it may be waiting for the writer). So each
//   batch also records the textures its draws sampled, and a context about to write a texture
//   that another context's open batch sampled first gives the texture new GL storage: a GPU
//   copy of every level, then the write. The queued draws keep the old storage, which is
//   deleted once every such batch has ended (its fence waited for). Names and ids change with
//   it, so query textureName at each use. The check is one look-up per write: a generation
//   pass that draws many slices into its target while sampling a volume that nobody writes
//   meanwhile never copies and keeps its single batch.
//   The rule for callers: a thread that hands what it drew to another thread ends its batch
//   first (the usual Direct3D sequence, draw then restore the render target or read back,
//   does). A device call that uses a target another thread drew into without ending its batch
//   reports that on standard error (and aborts under GORVANE_GL_DEBUG=abort).
// - Buffers: Lock/Unlock/Release from any thread at any time (each buffer has its own lock).
//   GL objects released on a thread that holds no context of the device are queued and
//   deleted by the next thread that binds one.
// - GL debug output: with the environment variable GORVANE_GL_DEBUG=1 contexts are made with
//   debug output and report GL errors and warnings on standard error; with
//   GORVANE_GL_DEBUG=abort a GL error also aborts the process (the tests use that).
// - Refused calls: every D3DERR_INVALIDCALL has a named cause from one table (refusal.h);
//   takeLastRefusal gives the calling thread's last, and the environment variable
//   GORVANE_D3D_DEBUG=1 prints each on standard error as "d3d9: <call> refused: <reason>".
//
// Queries (IDirect3DQuery9)
// - D3DQUERYTYPE_TIMESTAMP is a GL_TIMESTAMP query object written by glQueryCounter at Issue:
//   the GPU's clock in nanoseconds when it reached that point of the command stream. GL query
//   objects are not shared between contexts, so a timestamp query belongs to the context of
//   the thread that first issued it; Issue or GetData on another thread is refused. Each
//   thread that times its GPU work makes its own queries.
// - D3DQUERYTYPE_TIMESTAMPFREQ answers 1,000,000,000 (GL timestamps count nanoseconds). While a
//   trace is recorded (platform/trace/trace.h), its first Issue also tells the recorder where
//   the GPU's clock stands on the trace's (glGetInteger64v(GL_TIMESTAMP) against the trace
//   clock), so that the timestamps of GPU slices land on the trace's time line.
// - D3DQUERYTYPE_TIMESTAMPDISJOINT answers FALSE: GL has no disjoint query on the desktop
//   (only OpenGL ES's EXT_disjoint_timer_query), and GL_TIMESTAMP is specified as one
//   monotonic clock, so the layer never reports a frequency change between BEGIN and END.
// - D3DQUERYTYPE_EVENT is a fence sync left, and flushed, at Issue; GetData answers TRUE once
//   the GPU has finished everything the issuing context submitted before it. Fences are shared
//   by the contexts of the device, so any thread may poll it.
// - GetData returns S_FALSE while the result is not there, never waits.
#pragma once

#include "d3d9.h"

#include <epoxy/gl.h>

#include <cstdint>
#include <vector>

struct GLFWwindow;

namespace d3d9gl {

// A headless device: the EGL device platform when a hardware GPU device is present, else
// Mesa's surfaceless platform (llvmpipe). OpenGL 4.5 core. Render target 0 is an implicit
// A8R8G8B8 back buffer of width x height, the depth-stencil surface an implicit D24S8 surface
// of the same size. Fails with D3DERR_NOTAVAILABLE when no suitable GL is found.
HRESULT createHeadlessDevice(UINT width, UINT height, IDirect3DDevice9** device);

// A device over a GLFW window whose context is OpenGL 4.5 core and current on the calling
// (main) thread: that thread keeps using the window's context; hidden windows sharing it are
// made now for the other threads. Same implicit surfaces as createHeadlessDevice. Release the
// device on the main thread, after the other threads that used it have ended.
HRESULT createWindowedDevice(GLFWwindow* window, UINT width, UINT height,
                             IDirect3DDevice9** device);

// The GL_RENDERER string of the device's contexts.
const char* rendererName(IDirect3DDevice9* device);

// Makes the calling thread's context of the device current (taking one from the pool on the
// thread's first call), deletes GL objects queued for deletion, and waits for the work other
// contexts published since this context last waited. Every device method calls it; D3DX,
// effect and engine code call it before their own GL calls.
void bindThreadContext(IDirect3DDevice9* device);

// Flushes the calling thread's context and leaves a fence that the other contexts wait on. Call
// it after GL work of your own that another thread will use (a linked program, a texture
// written with raw GL).
void publishWrites(IDirect3DDevice9* device);

// The linked GLSL program that draws use: device-wide state, like a bound vertex and pixel
// shader pair. 0 draws nothing. Program objects are shared by all contexts; set uniforms on
// the thread that draws, before the draw.
void setProgram(IDirect3DDevice9* device, GLuint program);
GLuint currentProgram(IDirect3DDevice9* device);
// Deletes a program linked for the device, on the calling thread, and stops draws using it.
// A program that another thread's context has drawn with is kept until the device ends
// instead: deleting it while those contexts live leaves their driver state (Mesa's shader
// variants of it) dangling, and a later draw of the deleting context crashes in the driver.
void deleteProgram(IDirect3DDevice9* device, GLuint program);

// The GL texture behind a texture or volume texture (0 for D3DPOOL_SYSTEMMEM) and its target
// (GL_TEXTURE_2D or GL_TEXTURE_3D). The name changes when the device resets and when a write
// must leave another thread's queued reads the old storage (see above): query it at each use.
GLuint textureName(IDirect3DBaseTexture9* texture);
GLenum textureTarget(IDirect3DBaseTexture9* texture);

// Attribute locations by declaration usage.
constexpr GLuint kPositionLocation = 0;
constexpr GLuint kNormalLocation = 1;
constexpr GLuint kFirstTexcoordLocation = 2; // TEXCOORD i is location 2 + i, i < 4
constexpr GLuint kColorLocation = 6;
constexpr int kMaxTexcoords = 4;
// The location of a declaration element, or -1 when the usage has none.
int attributeLocation(BYTE usage, BYTE usageIndex);

// Binds the device's implicit back buffer and depth surface on the calling thread's context
// framebuffer (GL_DRAW_FRAMEBUFFER and GL_READ_FRAMEBUFFER) and sets the viewport to the back
// buffer's size, whatever render target the device holds: the device's render target is
// neither used nor changed, so a pass that another thread runs with its own target bound is
// undisturbed. The rest of the GL state is as the last draw left it; set what your own drawing
// needs (textures included: the device's next draw binds its own again), and call
// publishWrites if another thread reads what you draw.
void bindBackBufferForDrawing(IDirect3DDevice9* device);

// Reads the implicit back buffer: width x height texels of 4 bytes R, G, B, A, top row first.
HRESULT readBackBuffer(IDirect3DDevice9* device, std::vector<std::uint8_t>& rgbaTopRowFirst);

// Windowed devices: blits the implicit back buffer into the window's default framebuffer,
// flipped once so that row 0 is at the top of the window, and swaps the window's buffers.
// Call on the thread that made the device. Does nothing on a headless device.
void presentToWindow(IDirect3DDevice9* device);

// Device loss (see above).
UINT liveDefaultPoolObjects(IDirect3DDevice9* device);
HRESULT resetDevice(IDirect3DDevice9* device);

} // namespace d3d9gl
