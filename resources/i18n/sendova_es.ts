<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="es_ES">
<context>
    <name></name>
    <message id="dropzone.drag_files">
        <source>Drop a file here</source>
        <translation>Suelta un archivo aquí</translation>
    </message>
    <message id="dropzone.or_browse">
        <source>or click to choose one, or paste with Ctrl+V</source>
        <translation>o haz clic para elegir uno, o pega con Ctrl+V</translation>
    </message>
    <message id="error.clipboard.empty">
        <source>The clipboard holds nothing to upload: copy a file, an image or some text first.</source>
        <translation>El portapapeles no tiene nada que subir: copia primero un archivo, una imagen o un texto.</translation>
    </message>
    <message id="error.clipboard.unreadable_image">
        <source>The image on the clipboard could not be read: copy it again, or save it as a file and upload that.</source>
        <translation>No se pudo leer la imagen del portapapeles: cópiala de nuevo, o guárdala como archivo y sube ese archivo.</translation>
    </message>
    <message id="error.connection_failed">
        <source>Could not connect to the server</source>
        <translation>No se pudo conectar con el servidor</translation>
    </message>
    <message id="error.file.folder">
        <source>%1 is a folder; only files can be uploaded.</source>
        <translation>%1 es una carpeta; solo se pueden subir archivos.</translation>
    </message>
    <message id="error.file.no_permission">
        <source>You do not have permission to read %1.</source>
        <translation>No tienes permiso para leer %1.</translation>
    </message>
    <message id="error.file.not_found">
        <source>The file %1 could not be found.</source>
        <translation>No se encontró el archivo %1.</translation>
    </message>
    <message id="error.file.not_regular">
        <source>%1 is not an ordinary file; only files can be uploaded.</source>
        <translation>%1 no es un archivo normal; solo se pueden subir archivos.</translation>
    </message>
    <message id="error.file.unreadable">
        <source>The file %1 could not be read.</source>
        <translation>No se pudo leer el archivo %1.</translation>
    </message>
    <message id="error.file.write_failed">
        <source>Could not write %1.</source>
        <translation>No se pudo escribir %1.</translation>
    </message>
    <message id="error.file_changed">
        <source>%1 changed while it was being uploaded, so it was not stored. Upload it again.</source>
        <translation>%1 cambió mientras se subía, así que no se guardó. Vuelve a subirlo.</translation>
    </message>
    <message id="error.invalid_credentials">
        <source>Incorrect user name or password</source>
        <translation>Usuario o contraseña incorrectos</translation>
    </message>
    <message id="error.invalid_response">
        <source>The server sent an invalid response</source>
        <translation>El servidor envió una respuesta no válida</translation>
    </message>
    <message id="error.invalid_url">
        <source>The server address is not valid</source>
        <translation>La dirección del servidor no es válida</translation>
    </message>
    <message id="error.net.cancelled">
        <source>The transfer to %1 was cancelled.</source>
        <translation>Se canceló la transferencia a %1.</translation>
    </message>
    <message id="error.net.certificate_untrusted">
        <source>The security certificate of %1 is not trusted.</source>
        <translation>El certificado de seguridad de %1 no es de confianza.</translation>
    </message>
    <message id="error.net.connection_cut">
        <source>The connection to %1 was cut.</source>
        <translation>Se cortó la conexión con %1.</translation>
    </message>
    <message id="error.net.name_not_found">
        <source>The server name %1 could not be found.</source>
        <translation>No se encontró el nombre del servidor %1.</translation>
    </message>
    <message id="error.net.not_http">
        <source>%1 did not answer like a web server.</source>
        <translation>%1 no respondió como un servidor web.</translation>
    </message>
    <message id="error.net.refused">
        <source>The server %1 refused the connection.</source>
        <translation>El servidor %1 rechazó la conexión.</translation>
    </message>
    <message id="error.net.secure_connection_failed">
        <source>A secure connection to %1 could not be established.</source>
        <translation>No se pudo establecer una conexión segura con %1.</translation>
    </message>
    <message id="error.net.timed_out">
        <source>The server %1 took too long to answer.</source>
        <translation>El servidor %1 tardó demasiado en responder.</translation>
    </message>
    <message id="error.net.too_large">
        <source>The reply from %1 was too large to read.</source>
        <translation>La respuesta de %1 era demasiado grande para leerla.</translation>
    </message>
    <message id="error.net.unreachable">
        <source>Could not reach the server %1.</source>
        <translation>No se pudo contactar con el servidor %1.</translation>
    </message>
    <message id="error.network_error">
        <source>Network error: %1</source>
        <translation>Error de red: %1</translation>
    </message>
    <message id="error.save_failed">
        <source>Error saving configuration: %1</source>
        <translation>Error al guardar la configuración: %1</translation>
    </message>
    <message id="error.screenshot.failed">
        <source>The desktop could not take the screenshot.</source>
        <translation>El escritorio no pudo hacer la captura de pantalla.</translation>
    </message>
    <message id="error.server_error">
        <source>Server error (%1)</source>
        <translation>Error del servidor (%1)</translation>
    </message>
    <message id="error.server_refused">
        <source>The server refused the upload.</source>
        <translation>El servidor rechazó la subida.</translation>
    </message>
    <message id="error.tenant_inactive">
        <source>This account is inactive</source>
        <translation>Esta cuenta está inactiva</translation>
    </message>
    <message id="error.token_invalid">
        <source>The setup link is invalid or has expired</source>
        <translation>El enlace de configuración no es válido o ha caducado</translation>
    </message>
    <message id="error.upload.too_large">
        <source>%1 is larger than the server's limit of %2.</source>
        <translation>%1 supera el límite del servidor, de %2.</translation>
    </message>
    <message id="field.secret.hide">
        <source>Hide</source>
        <translation>Ocultar</translation>
    </message>
    <message id="field.secret.show">
        <source>Show</source>
        <translation>Mostrar</translation>
    </message>
    <message id="menu.clear">
        <source>Clear</source>
        <translation>Borrar</translation>
    </message>
    <message id="menu.dismiss">
        <source>Dismiss</source>
        <translation>Descartar</translation>
    </message>
    <message id="menu.error">
        <source>Upload failed</source>
        <translation>Error al subir</translation>
    </message>
    <message id="menu.quit">
        <source>Quit Sendova</source>
        <translation>Salir de Sendova</translation>
    </message>
    <message id="menu.recent">
        <source>Recent uploads</source>
        <translation>Subidas recientes</translation>
    </message>
    <message id="menu.report_error">
        <source>Report problem</source>
        <translation>Informar del problema</translation>
    </message>
    <message id="menu.settings">
        <source>Settings</source>
        <translation>Ajustes</translation>
    </message>
    <message id="menu.try_again">
        <source>Try again</source>
        <translation>Reintentar</translation>
    </message>
    <message id="notification.duplicate.body">
        <source>%1 was already uploaded. The link is ready.</source>
        <translation>%1 ya estaba subido. El enlace está listo.</translation>
    </message>
    <message id="notification.duplicate.press_copy">
        <source>%1 was already uploaded. Link ready — press Copy</source>
        <translation>%1 ya estaba subido. Enlace listo — pulsa Copiar</translation>
    </message>
    <message id="notification.duplicate.title">
        <source>Already uploaded</source>
        <translation>Ya subido</translation>
    </message>
    <message id="notification.error.body">
        <source>%1 could not be uploaded: %2</source>
        <translation>No se pudo subir %1: %2</translation>
    </message>
    <message id="notification.error.title">
        <source>Upload failed</source>
        <translation>Error al subir</translation>
    </message>
    <message id="notification.upload_complete.body">
        <source>%1 was uploaded. The link is ready.</source>
        <translation>%1 se ha subido. El enlace está listo.</translation>
    </message>
    <message id="notification.upload_complete.press_copy">
        <source>%1 was uploaded. Link ready — press Copy</source>
        <translation>%1 se ha subido. Enlace listo — pulsa Copiar</translation>
    </message>
    <message id="notification.upload_complete.title">
        <source>Upload complete</source>
        <translation>Subida completada</translation>
    </message>
    <message id="result.button.copy">
        <source>Copy</source>
        <translation>Copiar</translation>
    </message>
    <message id="result.button.ok">
        <source>Done</source>
        <translation>Listo</translation>
    </message>
    <message id="result.button.open">
        <source>Open</source>
        <translation>Abrir</translation>
    </message>
    <message id="result.button.qr_code">
        <source>Show QR code</source>
        <translation>Mostrar código QR</translation>
    </message>
    <message id="result.duplicate.title">
        <source>Already uploaded</source>
        <translation>Ya estaba subido</translation>
    </message>
    <message id="result.success.title">
        <source>Upload complete</source>
        <translation>Subida completada</translation>
    </message>
    <message id="result.url.copied">
        <source>Link copied to the clipboard</source>
        <translation>Enlace copiado al portapapeles</translation>
    </message>
    <message id="result.url.label">
        <source>Public link</source>
        <translation>Enlace público</translation>
    </message>
    <message id="result.url.press_copy">
        <source>Link ready — press Copy</source>
        <translation>Enlace listo — pulsa Copiar</translation>
    </message>
    <message id="server.override_note">
        <source>Requests go to %1 (SENDOVA_SERVER)</source>
        <translation>Las solicitudes van a %1 (SENDOVA_SERVER)</translation>
    </message>
    <message id="settings.api_key.label">
        <source>API key</source>
        <translation>Clave de API</translation>
    </message>
    <message id="settings.button.cancel">
        <source>Cancel</source>
        <translation>Cancelar</translation>
    </message>
    <message id="settings.button.close">
        <source>Close</source>
        <translation>Cerrar</translation>
    </message>
    <message id="settings.button.logout">
        <source>Sign out and delete data</source>
        <translation>Cerrar sesión y borrar datos</translation>
    </message>
    <message id="settings.button.save">
        <source>Save</source>
        <translation>Guardar</translation>
    </message>
    <message id="settings.button.test_connection">
        <source>Test connection</source>
        <translation>Probar conexión</translation>
    </message>
    <message id="settings.clipboard.toggle">
        <source>Copy link to clipboard</source>
        <translation>Copiar el enlace al portapapeles</translation>
    </message>
    <message id="settings.duplicates.toggle">
        <source>Check for duplicates before uploading</source>
        <translation>Buscar duplicados antes de subir</translation>
    </message>
    <message id="settings.language.label">
        <source>Language</source>
        <translation>Idioma</translation>
    </message>
    <message id="settings.notifications.toggle">
        <source>Show notifications</source>
        <translation>Mostrar notificaciones</translation>
    </message>
    <message id="settings.section.behavior">
        <source>Behavior</source>
        <translation>Comportamiento</translation>
    </message>
    <message id="settings.section.connection">
        <source>Connection</source>
        <translation>Conexión</translation>
    </message>
    <message id="settings.section.danger">
        <source>Danger zone</source>
        <translation>Zona de peligro</translation>
    </message>
    <message id="settings.section.language">
        <source>Language</source>
        <translation>Idioma</translation>
    </message>
    <message id="settings.server.label">
        <source>Server</source>
        <translation>Servidor</translation>
    </message>
    <message id="settings.startup.toggle">
        <source>Launch at login</source>
        <translation>Abrir al iniciar sesión</translation>
    </message>
    <message id="settings.status.connected">
        <source>Connected</source>
        <translation>Conectado</translation>
    </message>
    <message id="settings.title">
        <source>Settings</source>
        <translation>Ajustes</translation>
    </message>
    <message id="setup.api_key.help">
        <source>You can find your API key in your account settings on the server.</source>
        <translation>Encontrarás tu clave de API en los ajustes de tu cuenta en el servidor.</translation>
    </message>
    <message id="setup.api_key.label">
        <source>API key</source>
        <translation>Clave de API</translation>
    </message>
    <message id="setup.api_key.placeholder">
        <source>Paste your API key</source>
        <translation>Pega tu clave de API</translation>
    </message>
    <message id="setup.button.cancel">
        <source>Cancel</source>
        <translation>Cancelar</translation>
    </message>
    <message id="setup.button.connect">
        <source>Connect</source>
        <translation>Conectar</translation>
    </message>
    <message id="setup.button.login">
        <source>Sign in</source>
        <translation>Iniciar sesión</translation>
    </message>
    <message id="setup.error.connection_failed">
        <source>Could not connect. Check the server address and the API key.</source>
        <translation>No se pudo conectar. Comprueba la dirección del servidor y la clave de API.</translation>
    </message>
    <message id="setup.mode.api_key">
        <source>API key</source>
        <translation>Clave de API</translation>
    </message>
    <message id="setup.mode.login">
        <source>Sign in</source>
        <translation>Iniciar sesión</translation>
    </message>
    <message id="setup.password.label">
        <source>Password</source>
        <translation>Contraseña</translation>
    </message>
    <message id="setup.password.placeholder">
        <source>Your password</source>
        <translation>Tu contraseña</translation>
    </message>
    <message id="setup.server.label">
        <source>Server</source>
        <translation>Servidor</translation>
    </message>
    <message id="setup.server.placeholder">
        <source>https://files.example.com</source>
        <translation>https://archivos.ejemplo.com</translation>
    </message>
    <message id="setup.username.label">
        <source>User name</source>
        <translation>Usuario</translation>
    </message>
    <message id="setup.username.placeholder">
        <source>Your user name</source>
        <translation>Tu nombre de usuario</translation>
    </message>
    <message id="setup.welcome.subtitle">
        <source>Connect to your server to start sharing files.</source>
        <translation>Conéctate a tu servidor para empezar a compartir archivos.</translation>
    </message>
    <message id="setup.welcome.title">
        <source>Welcome to Sendova</source>
        <translation>Te damos la bienvenida a Sendova</translation>
    </message>
    <message id="setup_link.confirm.cancel">
        <source>Cancel</source>
        <translation>Cancelar</translation>
    </message>
    <message id="setup_link.confirm.connect">
        <source>Connect</source>
        <translation>Conectar</translation>
    </message>
    <message id="setup_link.confirm.message">
        <source>A setup link asks Sendova to connect to this server and to keep an API key for it:

%1

Connect only if you opened this link yourself and trust this server.</source>
        <translation>Un enlace de configuración pide a Sendova que se conecte a este servidor y guarde una clave API para él:

%1

Conéctate solo si abriste este enlace tú mismo y confías en el servidor.</translation>
    </message>
    <message id="setup_link.confirm.title">
        <source>Connect to this server?</source>
        <translation>¿Conectar con este servidor?</translation>
    </message>
    <message id="setup_link.error.server_refused">
        <source>This setup link names a server address that Sendova cannot use. Only http:// and https:// addresses are accepted, so nothing was sent.</source>
        <translation>Este enlace de configuración indica una dirección de servidor que Sendova no puede usar. Solo se aceptan direcciones http:// y https://, así que no se ha enviado nada.</translation>
    </message>
    <message id="share.button.cancel">
        <source>Cancel</source>
        <translation>Cancelar</translation>
    </message>
    <message id="share.button.close">
        <source>Close</source>
        <translation>Cerrar</translation>
    </message>
    <message id="share.button.copy_url">
        <source>Copy link</source>
        <translation>Copiar enlace</translation>
    </message>
    <message id="share.error.cancelled_by_user">
        <source>Cancelled by the user</source>
        <translation>Cancelado por el usuario</translation>
    </message>
    <message id="share.error.could_not_get_file">
        <source>Could not get the shared file</source>
        <translation>No se pudo obtener el archivo compartido</translation>
    </message>
    <message id="share.error.no_files_found">
        <source>No file was found to upload</source>
        <translation>No se encontró ningún archivo para subir</translation>
    </message>
    <message id="share.error.no_files_received">
        <source>No files were received</source>
        <translation>No se recibió ningún archivo</translation>
    </message>
    <message id="share.error.title">
        <source>Upload failed</source>
        <translation>Error al subir</translation>
    </message>
    <message id="share.error.unsupported_file_type">
        <source>This kind of item cannot be uploaded</source>
        <translation>Este tipo de elemento no se puede subir</translation>
    </message>
    <message id="share.note.first_file_only">
        <source>Only the first of %1 files is uploaded</source>
        <translation>Solo se sube 1 de los %1 archivos</translation>
    </message>
    <message id="share.status.hashing">
        <source>Preparing file…</source>
        <translation>Preparando archivo…</translation>
    </message>
    <message id="share.status.loading">
        <source>Loading file…</source>
        <translation>Cargando archivo…</translation>
    </message>
    <message id="share.status.preparing">
        <source>Preparing…</source>
        <translation>Preparando…</translation>
    </message>
    <message id="share.status.uploaded">
        <source>Uploaded</source>
        <translation>Subido</translation>
    </message>
    <message id="share.status.uploading">
        <source>Uploading…</source>
        <translation>Subiendo…</translation>
    </message>
    <message id="share.url.copied">
        <source>The link is on the clipboard</source>
        <translation>El enlace está en el portapapeles</translation>
    </message>
    <message id="staged.name.clipboard">
        <source>Clipboard</source>
        <translation>Portapapeles</translation>
    </message>
    <message id="staged.name.screenshot">
        <source>Screenshot</source>
        <translation>Captura de pantalla</translation>
    </message>
    <message id="time.relative.day">
        <source>%1 day ago</source>
        <translation>hace %1 día</translation>
    </message>
    <message id="time.relative.days">
        <source>%1 days ago</source>
        <translation>hace %1 días</translation>
    </message>
    <message id="time.relative.hours">
        <source>%1 hr ago</source>
        <translation>hace %1 h</translation>
    </message>
    <message id="time.relative.minutes">
        <source>%1 min ago</source>
        <translation>hace %1 min</translation>
    </message>
    <message id="time.relative.now">
        <source>just now</source>
        <translation>ahora mismo</translation>
    </message>
    <message id="time.relative.seconds">
        <source>%1 sec ago</source>
        <translation>hace %1 s</translation>
    </message>
    <message id="time.relative.weeks">
        <source>%1 wk ago</source>
        <translation>hace %1 sem</translation>
    </message>
    <message id="tray.choose_file">
        <source>Upload a File…</source>
        <translation>Subir un archivo…</translation>
    </message>
    <message id="tray.open">
        <source>Open Sendova</source>
        <translation>Abrir Sendova</translation>
    </message>
    <message id="tray.upload_clipboard">
        <source>Upload Clipboard</source>
        <translation>Subir el portapapeles</translation>
    </message>
    <message id="tray.upload_screenshot">
        <source>Upload Screenshot…</source>
        <translation>Subir una captura de pantalla…</translation>
    </message>
    <message id="upload.button.cancel">
        <source>Cancel</source>
        <translation>Cancelar</translation>
    </message>
    <message id="upload.status.checking">
        <source>Checking for duplicates…</source>
        <translation>Buscando duplicados…</translation>
    </message>
    <message id="upload.status.completed">
        <source>Upload complete</source>
        <translation>Subida completada</translation>
    </message>
    <message id="upload.status.error">
        <source>Upload failed</source>
        <translation>Error al subir</translation>
    </message>
    <message id="upload.status.hashing">
        <source>Preparing file…</source>
        <translation>Preparando archivo…</translation>
    </message>
    <message id="upload.status.ready">
        <source>Ready</source>
        <translation>Listo</translation>
    </message>
    <message id="upload.status.uploading">
        <source>Uploading…</source>
        <translation>Subiendo…</translation>
    </message>
    <message id="upload.time.hours">
        <source>h left</source>
        <translation>h restantes</translation>
    </message>
    <message id="upload.time.minutes">
        <source>min left</source>
        <translation>min restantes</translation>
    </message>
    <message id="upload.time.seconds">
        <source>s left</source>
        <translation>s restantes</translation>
    </message>
</context>
</TS>
