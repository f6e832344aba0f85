// uWindow of the null system, its GL: the GL 1.x calls the renderers make, taking their
// arguments and drawing nothing. Texture names are handed out as a GL does, the largest
// texture is 8192 (so the renderers take the path of a desktop GL) and no call fails, so
// the renderers' own checks run as on a real context.
#include <GL/gl.h>

#include <cstring>

namespace {

GLuint gNextTexture = 1;
// The side of the largest texture, as a desktop GL reports it.
constexpr GLint kMaxTextureSize = 8192;

}  // namespace

extern "C" {

GLenum glGetError() { return GL_NO_ERROR; }

void glGetIntegerv(GLenum name, GLint* values) {
  if (name == GL_MAX_TEXTURE_SIZE) {
    values[0] = kMaxTextureSize;
  } else if (name == GL_VIEWPORT) {
    std::memset(values, 0, 4 * sizeof(GLint));
  } else {
    values[0] = 0;
  }
}

void glGenTextures(GLsizei count, GLuint* names) {
  for (GLsizei i = 0; i < count; ++i) names[i] = gNextTexture++;
}

void glBindTexture(GLenum, GLuint) {}
void glTexParameteri(GLenum, GLenum, GLint) {}
void glTexImage2D(GLenum, GLint, GLint, GLsizei, GLsizei, GLint, GLenum, GLenum, const GLvoid*) {}
void glTexEnvf(GLenum, GLenum, GLfloat) {}
void glEnable(GLenum) {}
void glBlendFunc(GLenum, GLenum) {}
void glViewport(GLint, GLint, GLsizei, GLsizei) {}
void glClear(GLbitfield) {}
void glMatrixMode(GLenum) {}
void glLoadIdentity() {}
void glOrtho(GLdouble, GLdouble, GLdouble, GLdouble, GLdouble, GLdouble) {}
void glPushMatrix() {}
void glPopMatrix() {}
void glTranslatef(GLfloat, GLfloat, GLfloat) {}
void glRotatef(GLfloat, GLfloat, GLfloat, GLfloat) {}
void glScalef(GLfloat, GLfloat, GLfloat) {}
void glColor3f(GLfloat, GLfloat, GLfloat) {}
void glColor4f(GLfloat, GLfloat, GLfloat, GLfloat) {}
void glBegin(GLenum) {}
void glEnd() {}
void glTexCoord2f(GLfloat, GLfloat) {}
void glVertex2f(GLfloat, GLfloat) {}
void glVertex3f(GLfloat, GLfloat, GLfloat) {}

}  // extern "C"
