// Moving texels between GL and memory: uploads of locked boxes, read-backs of render targets
// and of the back buffer, and presenting to the window.
#include "gl_internal.h"

#include "failure_injection.h"
#include "refusal.h"

#include <GLFW/glfw3.h>

namespace d3d9gl {

namespace {

// Pack state for reading a whole level into packed rows, set fully because other layers issue
// their own GL calls on the same contexts.
struct PackState {
    PackState() {
        glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glPixelStorei(GL_PACK_ROW_LENGTH, 0);
        glPixelStorei(GL_PACK_IMAGE_HEIGHT, 0);
        glPixelStorei(GL_PACK_SKIP_PIXELS, 0);
        glPixelStorei(GL_PACK_SKIP_ROWS, 0);
        glPixelStorei(GL_PACK_SKIP_IMAGES, 0);
        glPixelStorei(GL_PACK_SWAP_BYTES, GL_FALSE);
        glPixelStorei(GL_PACK_LSB_FIRST, GL_FALSE);
    }
    ~PackState() { glPixelStorei(GL_PACK_ALIGNMENT, 4); }
};

} // namespace

HRESULT Device::GetRenderTargetData(IDirect3DSurface9* renderTarget,
                                    IDirect3DSurface9* destination) {
    constexpr const char* call = "GetRenderTargetData";
    if (renderTarget == nullptr || destination == nullptr) {
        return refuse(call, Refusal::NoSourceOrDestination);
    }
    if (injectedFailure(call)) return E_OUTOFMEMORY;
    Surface* source = asSurface(renderTarget);
    Surface* target = asSurface(destination);
    TextureCore& from = *source->texture();
    TextureCore& to = *target->texture();
    const TextureCore::Level& fromLevel = from.level(source->level());
    const TextureCore::Level& toLevel = to.level(target->level());
    if ((from.usage() & D3DUSAGE_RENDERTARGET) == 0) {
        return refuse(call, Refusal::SourceNotRenderTarget);
    }
    if (to.pool() != D3DPOOL_SYSTEMMEM) {
        return refuse(call, Refusal::DestinationNotSystemMem);
    }
    if (from.format().format != to.format().format) {
        return refuse(call, Refusal::FormatsDiffer);
    }
    if (fromLevel.width != toLevel.width || fromLevel.height != toLevel.height) {
        return refuse(call, Refusal::SizesDiffer);
    }
    if (to.isLocked(target->level())) {
        return refuse(call, Refusal::DestinationLocked);
    }
    std::lock_guard lock(mutex_);
    pool_->bind();
    checkPublished(&from, "a render target read back");
    const PackState pack;
    const FormatInfo& format = from.format();
    glGetTextureSubImage(from.glName(), static_cast<GLint>(source->level()), 0, 0, 0,
                         static_cast<GLsizei>(fromLevel.width),
                         static_cast<GLsizei>(fromLevel.height), 1, format.transferFormat,
                         format.transferType, static_cast<GLsizei>(toLevel.slicePitch),
                         to.levelBits(target->level()));
    pool_->endBatch(); // what this context drew is complete now: tell the others
    return S_OK;
}

void Device::uploadTexture(TextureCore& texture, UINT level, const Box& box) {
    std::lock_guard lock(mutex_);
    pool_->bind();
    separateFromQueuedReads(texture);
    texture.upload(level, box);
    pool_->publish();
}

HRESULT Device::readBackBuffer(std::vector<std::uint8_t>& rgba) {
    std::lock_guard lock(mutex_);
    pool_->bind();
    checkPublished(backBuffer_, "the back buffer");
    rgba.resize(std::size_t{width_} * height_ * 4);
    const PackState pack;
    glGetTextureImage(backBuffer_->glName(), 0, GL_RGBA, GL_UNSIGNED_BYTE,
                      static_cast<GLsizei>(rgba.size()), rgba.data());
    pool_->endBatch();
    return S_OK;
}

void Device::present() {
    GLFWwindow* window = pool_->window();
    if (window == nullptr || !pool_->isWindowThread()) {
        return;
    }
    std::lock_guard lock(mutex_);
    ContextState& context = pool_->bind();
    checkPublished(backBuffer_, "the back buffer");
    attach(context, backBuffer_->surface(0), nullptr);
    int windowWidth = 0, windowHeight = 0;
    glfwGetFramebufferSize(window, &windowWidth, &windowHeight);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, context.framebuffer);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    glDisable(GL_SCISSOR_TEST);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    const bool sameSize =
        static_cast<UINT>(windowWidth) == width_ && static_cast<UINT>(windowHeight) == height_;
    // Row 0 of the back buffer is the top of the picture; the window's row 0 is its bottom.
    glBlitFramebuffer(0, 0, static_cast<GLint>(width_), static_cast<GLint>(height_), 0,
                      windowHeight, windowWidth, 0, GL_COLOR_BUFFER_BIT,
                      sameSize ? GL_NEAREST : GL_LINEAR);
    glfwSwapBuffers(window);
    pool_->endBatch();
}

} // namespace d3d9gl
