<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru_RU">
<context>
    <name>AppcastUpdater</name>
    <message>
        <source>The program file %1 was not found.</source>
        <translation>Файл программы %1 не найден.</translation>
    </message>
    <message>
        <source>The program is installed for the whole system; update it with the system&apos;s package manager.</source>
        <translation>Программа установлена для всей системы; обновите её системным менеджером пакетов.</translation>
    </message>
    <message>
        <source>You may not replace the program file %1.</source>
        <translation>У вас нет прав на замену файла программы %1.</translation>
    </message>
    <message>
        <source>No updates available</source>
        <translation>Обновлений нет</translation>
    </message>
    <message>
        <source>Version %1 offers no download for this system.</source>
        <translation>Для этой системы у версии %1 нет файла для загрузки.</translation>
    </message>
    <message>
        <source>This build cannot verify updates.</source>
        <translation>Эта сборка не может проверять подлинность обновлений.</translation>
    </message>
    <message>
        <source>The update carries no signature.</source>
        <translation>Обновление не подписано.</translation>
    </message>
    <message>
        <source>Downloading version %1…</source>
        <translation>Загрузка версии %1…</translation>
    </message>
    <message>
        <source>The download is larger than announced.</source>
        <translation>Загруженный файл больше заявленного.</translation>
    </message>
    <message>
        <source>The download failed.</source>
        <translation>Загрузка не удалась.</translation>
    </message>
    <message>
        <source>The download has the wrong size.</source>
        <translation>Загруженный файл имеет неверный размер.</translation>
    </message>
    <message>
        <source>The signature of the download does not match.</source>
        <translation>Подпись загруженного файла не совпадает.</translation>
    </message>
    <message>
        <source>The download is not a program for this system.</source>
        <translation>Загруженный файл не является программой для этой системы.</translation>
    </message>
    <message>
        <source>The program file was not found.</source>
        <translation>Файл программы не найден.</translation>
    </message>
    <message>
        <source>The program file cannot be replaced: %1</source>
        <translation>Не удаётся заменить файл программы: %1</translation>
    </message>
    <message>
        <source>Version %1 is installed. The application restarts now.</source>
        <translation>Версия %1 установлена. Приложение сейчас перезапустится.</translation>
    </message>
    <message>
        <source>The update address %1 is refused: only https addresses are accepted.</source>
        <translation>Адрес обновлений %1 отклонён: принимаются только адреса https.</translation>
    </message>
    <message>
        <source>The release notes could not be loaded.</source>
        <translation>Не удалось загрузить список изменений.</translation>
    </message>
    <message>
        <source>The update failed verification and was not installed.</source>
        <translation>Обновление не прошло проверку подлинности и не установлено.</translation>
    </message>
    <message>
        <source>The update was not installed.</source>
        <translation>Обновление не установлено.</translation>
    </message>
    <message>
        <source>The download page %1 has been opened in your web browser.</source>
        <translation>Страница загрузки %1 открыта в веб-браузере.</translation>
    </message>
    <message>
        <source>The update feed %1 is larger than %2 MB.</source>
        <translation>Лента обновлений %1 больше %2 МБ.</translation>
    </message>
    <message>
        <source>The update feed %1 did not arrive within %2 s.</source>
        <translation>Лента обновлений %1 не получена за %2 с.</translation>
    </message>
    <message>
        <source>The update feed %1 cannot be read: %2</source>
        <translation>Ленту обновлений %1 не удалось прочитать: %2</translation>
    </message>
    <message>
        <source>The download does not say which version it is.</source>
        <translation>Загруженная программа не указывает свою версию.</translation>
    </message>
    <message>
        <source>The download is version %1, not newer than this version %2.</source>
        <translation>Загружена версия %1, она не новее этой версии %2.</translation>
    </message>
    <message>
        <source>No web browser could be opened. Updates can be downloaded from %1.</source>
        <translation>Веб-браузер открыть не удалось. Обновления можно загрузить со страницы %1.</translation>
    </message>
    <message>
        <source>The download page %1 is being opened in your web browser.</source>
        <translation>Страница загрузки %1 открывается в веб-браузере.</translation>
    </message>
    <message>
        <source>The installer cannot be saved: %1</source>
        <translation>Не удалось сохранить установщик: %1</translation>
    </message>
    <message>
        <source>The installer of version %1 starts now; the application closes.</source>
        <translation>Запускается установщик версии %1; приложение закрывается.</translation>
    </message>
</context>
<context>
    <name>Board</name>
    <message>
        <source>Ostrel X2 v%1 connected</source>
        <translation>Подключён Ostrel X2 v%1</translation>
    </message>
    <message>
        <source>Ostrel S2 v%1 connected</source>
        <translation>Подключён Ostrel S2 v%1</translation>
    </message>
    <message>
        <source>Reset requested</source>
        <translation>Запрошен сброс</translation>
    </message>
    <message>
        <source>Hard reset requested</source>
        <translation>Запрошен жёсткий сброс</translation>
    </message>
    <message>
        <source>Remote reset reqested</source>
        <translation>Запрошен удалённый сброс</translation>
    </message>
    <message>
        <source>Remote hard reset requested</source>
        <translation>Запрошен удалённый жёсткий сброс</translation>
    </message>
    <message>
        <source>Requested channel 1 close</source>
        <translation>Запрошено замыкание канала 1</translation>
    </message>
    <message>
        <source>Requested channel 2 close</source>
        <translation>Запрошено замыкание канала 2</translation>
    </message>
    <message>
        <source>Requested channel 1 open</source>
        <translation>Запрошено размыкание канала 1</translation>
    </message>
    <message>
        <source>Requested channel 2 open</source>
        <translation>Запрошено размыкание канала 2</translation>
    </message>
    <message>
        <source>No connected watchdogs detected</source>
        <translation>Подключённые сторожевые устройства не обнаружены</translation>
    </message>
    <message>
        <source>Watchdog moved from %1 to %2</source>
        <translation>Сторожевое устройство перешло с %1 на %2</translation>
    </message>
</context>
<context>
    <name>Heartbeat</name>
    <message>
        <source>Network access to %1 restored</source>
        <translation>Доступ к сети %1 восстановлен</translation>
    </message>
    <message>
        <source>Network address %1 is unreachable</source>
        <translation>Сетевой адрес %1 недоступен</translation>
    </message>
    <message>
        <source>Process %1 is running normally</source>
        <translation>Процесс %1 работает нормально</translation>
    </message>
    <message>
        <source>Process %1 died or is hanging</source>
        <translation>Процесс %1 завершился или завис</translation>
    </message>
</context>
<context>
    <name>Logger</name>
    <message>
        <source>application started</source>
        <translation>приложение запущено</translation>
    </message>
    <message>
        <source>application closed</source>
        <translation>приложение закрыто</translation>
    </message>
    <message>
        <source>application is about to be closed</source>
        <translation>приложение будет закрыто</translation>
    </message>
</context>
<context>
    <name>Page1</name>
    <message>
        <source>n/a</source>
        <translation>н/д</translation>
    </message>
    <message>
        <source>Type: %1, Version: %2, Channels: %3</source>
        <translation>Тип: %1, версия: %2, каналов: %3</translation>
    </message>
    <message>
        <source>ms</source>
        <translation>мс</translation>
    </message>
    <message>
        <source>disabled</source>
        <translation>отключено</translation>
    </message>
    <message>
        <source>Select a Process</source>
        <translation>Выберите процесс</translation>
    </message>
    <message>
        <source>IN</source>
        <translation>ВХОД</translation>
    </message>
    <message>
        <source>OUT</source>
        <translation>ВЫХОД</translation>
    </message>
    <message>
        <source>TEMP</source>
        <translation>ТЕМП</translation>
    </message>
    <message>
        <source>CH1 Closed</source>
        <translation>CH1 замкнут</translation>
    </message>
    <message>
        <source>CH1 Open</source>
        <translation>CH1 разомкнут</translation>
    </message>
    <message>
        <source>CH2 Closed</source>
        <translation>CH2 замкнут</translation>
    </message>
    <message>
        <source>CH2 Open</source>
        <translation>CH2 разомкнут</translation>
    </message>
    <message>
        <source>No answer: these readings are not current</source>
        <translation>Нет ответа: эти показания устарели</translation>
    </message>
    <message>
        <source>No connected watchdogs detected</source>
        <translation>Сторожевые устройства не обнаружены</translation>
    </message>
</context>
<context>
    <name>Page1Form.ui</name>
    <message>
        <source>Scan</source>
        <translation>Поиск</translation>
    </message>
    <message>
        <source>Network Monitoring</source>
        <translation>Контроль сети</translation>
    </message>
    <message>
        <source>disabled</source>
        <translation>отключено</translation>
    </message>
    <message>
        <source>Process Monitoring</source>
        <translation>Контроль процесса</translation>
    </message>
    <message>
        <source>Select from the list of currently running processes</source>
        <translation>Выбрать из списка запущенных процессов</translation>
    </message>
    <message>
        <source>Manual Control</source>
        <translation>Ручное управление</translation>
    </message>
    <message>
        <source>Suspend</source>
        <translation>Приостановить</translation>
    </message>
    <message>
        <source>Checked: Timer suspended, device is inactive</source>
        <translation>Включено: таймер приостановлен, устройство неактивно</translation>
    </message>
    <message>
        <source>Unchecked: Timer is running, device is active (the default)</source>
        <translation>Выключено: таймер работает, устройство активно (по умолчанию)</translation>
    </message>
    <message>
        <source>Remote Reset</source>
        <translation>Удалённый сброс</translation>
    </message>
    <message>
        <source>Remote Power</source>
        <translation>Удалённое питание</translation>
    </message>
    <message>
        <source>Green LED</source>
        <translation>Зелёный светодиод</translation>
    </message>
    <message>
        <source>Checked: Green led on the device is enabled</source>
        <translation>Включено: зелёный светодиод на устройстве горит</translation>
    </message>
    <message>
        <source>Unchecked: green led is disabled</source>
        <translation>Выключено: зелёный светодиод отключён</translation>
    </message>
    <message>
        <source>CH1 Open</source>
        <translation>CH1 разомкнут</translation>
    </message>
    <message>
        <source>CH2 Open</source>
        <translation>CH2 разомкнут</translation>
    </message>
    <message>
        <source>n/a</source>
        <translation>н/д</translation>
    </message>
    <message>
        <source>Ping Timeout:</source>
        <translation>Тайм-аут пинга:</translation>
    </message>
</context>
<context>
    <name>Page2</name>
    <message>
        <source>OK</source>
        <translation>ОК</translation>
    </message>
    <message>
        <source>Failed</source>
        <translation>Ошибка</translation>
    </message>
    <message>
        <source>Write</source>
        <translation>Записать</translation>
    </message>
    <message>
        <source>No reply</source>
        <translation>Нет ответа</translation>
    </message>
    <message>
        <source>Read</source>
        <translation>Прочитать</translation>
    </message>
</context>
<context>
    <name>Page2Form.ui</name>
    <message>
        <source>min</source>
        <translation>мин</translation>
    </message>
    <message>
        <source>ms</source>
        <translation>мс</translation>
    </message>
    <message>
        <source>s</source>
        <translation>с</translation>
    </message>
    <message>
        <source>OFF</source>
        <translation>ВЫКЛ</translation>
    </message>
    <message>
        <source>RESET</source>
        <translation>СБРОС</translation>
    </message>
    <message>
        <source>POWER</source>
        <translation>ПИТАНИЕ</translation>
    </message>
    <message>
        <source>OUT OPENED</source>
        <translation>ВЫХОД РАЗОМКНУТ</translation>
    </message>
    <message>
        <source>OUT CLOSED</source>
        <translation>ВЫХОД ЗАМКНУТ</translation>
    </message>
    <message>
        <source>PC will be restarted if there has been&lt;br&gt;no signal from the app for</source>
        <translation>ПК будет перезагружен, если от приложения&lt;br&gt;не было сигнала в течение</translation>
    </message>
    <message>
        <source>When restarting the PC, hold the reset button for</source>
        <translation>При перезагрузке ПК удерживать кнопку сброса</translation>
    </message>
    <message>
        <source>Hard reset sequence: hold the power button for</source>
        <translation>Жёсткий сброс: удерживать кнопку питания</translation>
    </message>
    <message>
        <source>release, wait</source>
        <translation>отпустить, ждать</translation>
    </message>
    <message>
        <source>, press the button for</source>
        <translation>, нажать кнопку на</translation>
    </message>
    <message>
        <source>CH1</source>
        <translation>CH1</translation>
    </message>
    <message>
        <source>CH2</source>
        <translation>CH2</translation>
    </message>
    <message>
        <source>Read</source>
        <translation>Прочитать</translation>
    </message>
    <message>
        <source>Write</source>
        <translation>Записать</translation>
    </message>
    <message>
        <source>Reset Limit</source>
        <translation>Лимит сбросов</translation>
    </message>
    <message>
        <source>IN Channel</source>
        <translation>Канал IN</translation>
    </message>
    <message>
        <source>INPUT</source>
        <translation>ВХОД</translation>
    </message>
    <message>
        <source>OUTPUT</source>
        <translation>ВЫХОД</translation>
    </message>
    <message>
        <source>TEMP</source>
        <translation>ТЕМП</translation>
    </message>
    <message>
        <source>Temperature
Threshold</source>
        <translation>Порог
температуры</translation>
    </message>
</context>
<context>
    <name>Page3</name>
    <message>
        <source>Check for updates</source>
        <translation>Проверить обновления</translation>
    </message>
    <message>
        <source>Tovel</source>
        <translation>Tovel</translation>
    </message>
    <message>
        <source>Brennic LLC</source>
        <translation>ООО «Бренник»</translation>
    </message>
    <message>
        <source>Restart the app to change language</source>
        <translation>Перезапустите приложение, чтобы сменить язык</translation>
    </message>
    <message>
        <source>Configure</source>
        <translation>Настроить</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>Открыть</translation>
    </message>
    <message>
        <source>Restart the app to change rendering method</source>
        <translation>Перезапустите приложение, чтобы сменить способ отрисовки</translation>
    </message>
    <message>
        <source>No updates available</source>
        <translation>Обновлений нет</translation>
    </message>
    <message>
        <source>Update to %1?</source>
        <translation>Обновить до версии %1?</translation>
    </message>
    <message>
        <source>Application will restart itself once updated</source>
        <translation>После обновления приложение перезапустится</translation>
    </message>
    <message>
        <source>Log file not found!</source>
        <translation>Файл журнала не найден!</translation>
    </message>
    <message>
        <source>No program was found to open the log file.</source>
        <translation>Не найдена программа, которая открыла бы файл журнала.</translation>
    </message>
    <message>
        <source>Open it in a text editor:</source>
        <translation>Откройте его в текстовом редакторе:</translation>
    </message>
    <message>
        <source>Setup Logging</source>
        <translation>Настройка журнала</translation>
    </message>
    <message>
        <source>Maximum Size (Mb):</source>
        <translation>Максимальный размер (МБ):</translation>
    </message>
    <message>
        <source>Old files:</source>
        <translation>Старых файлов:</translation>
    </message>
    <message>
        <source>Network state</source>
        <translation>Состояние сети</translation>
    </message>
    <message>
        <source>Process state</source>
        <translation>Состояние процесса</translation>
    </message>
    <message>
        <source>Release notes</source>
        <translation>Список изменений</translation>
    </message>
    <message>
        <source>An update to version %1 is available</source>
        <translation>Доступно обновление до версии %1</translation>
    </message>
    <message>
        <source>Checking for updates…</source>
        <translation>Поиск обновлений…</translation>
    </message>
    <message>
        <source>Update check failed</source>
        <translation>Проверка обновлений не удалась</translation>
    </message>
</context>
<context>
    <name>Page3Form.ui</name>
    <message>
        <source>Autostart</source>
        <translation>Автозапуск</translation>
    </message>
    <message>
        <source>Checked: start the application automatically on boot</source>
        <translation>Включено: запускать приложение автоматически при входе в систему</translation>
    </message>
    <message>
        <source>Hide on Startup</source>
        <translation>Скрывать при запуске</translation>
    </message>
    <message>
        <source>Checked: start the application minimized to system tray</source>
        <translation>Включено: запускать приложение свёрнутым в системный трей</translation>
    </message>
    <message>
        <source>Software Rendering</source>
        <translation>Программная отрисовка</translation>
    </message>
    <message>
        <source>Checked: use software rendering (less resource-demanding, ugly interface)</source>
        <translation>Включено: программная отрисовка (меньше нагрузка, некрасивый интерфейс)</translation>
    </message>
    <message>
        <source>Unchecked: use OpenGL based rendering (resource-demanding)</source>
        <translation>Выключено: отрисовка через OpenGL (требует больше ресурсов)</translation>
    </message>
    <message>
        <source>Compatibility Mode</source>
        <translation>Режим совместимости</translation>
    </message>
    <message>
        <source>Enable in order to communicate with older Ostrel S (v2.2 and earlier)</source>
        <translation>Включите для работы со старыми Ostrel S (v2.2 и ранее)</translation>
    </message>
    <message>
        <source>Disable for all newer devices</source>
        <translation>Выключите для всех более новых устройств</translation>
    </message>
    <message>
        <source>Logging</source>
        <translation>Журнал</translation>
    </message>
    <message>
        <source>Enable/Disable logging</source>
        <translation>Включить/выключить ведение журнала</translation>
    </message>
    <message>
        <source>Language</source>
        <translation>Язык</translation>
    </message>
    <message>
        <source>English</source>
        <translation>Английский</translation>
    </message>
    <message>
        <source>Russian</source>
        <translation>Русский</translation>
    </message>
</context>
<context>
    <name>SystemProcessList</name>
    <message>
        <source>Stopped / Dead</source>
        <translation>Остановлен / завершён</translation>
    </message>
    <message>
        <source>Running</source>
        <translation>Работает</translation>
    </message>
    <message>
        <source>Processes:</source>
        <translation>Процессы:</translation>
    </message>
    <message>
        <source>Memory:</source>
        <translation>Память:</translation>
    </message>
</context>
<context>
    <name>TextFieldMenu</name>
    <message>
        <source>C&amp;ut</source>
        <translation>Вы&amp;резать</translation>
    </message>
    <message>
        <source>&amp;Copy</source>
        <translation>&amp;Копировать</translation>
    </message>
    <message>
        <source>&amp;Paste</source>
        <translation>Вст&amp;авить</translation>
    </message>
    <message>
        <source>Select &amp;all</source>
        <translation>Выделить &amp;всё</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>USB Tovel v%1</source>
        <translation>USB Tovel v%1</translation>
    </message>
    <message>
        <source>Main</source>
        <translation>Главная</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Настройки</translation>
    </message>
    <message>
        <source>Application</source>
        <translation>Приложение</translation>
    </message>
    <message>
        <source>Hide</source>
        <translation>Скрыть</translation>
    </message>
    <message>
        <source>Show</source>
        <translation>Показать</translation>
    </message>
    <message>
        <source>Test Reset</source>
        <translation>Тест сброса</translation>
    </message>
    <message>
        <source>Test Power</source>
        <translation>Тест питания</translation>
    </message>
    <message>
        <source>Export Settings</source>
        <translation>Экспорт настроек</translation>
    </message>
    <message>
        <source>Import Settings</source>
        <translation>Импорт настроек</translation>
    </message>
    <message>
        <source>View log</source>
        <translation>Просмотр журнала</translation>
    </message>
    <message>
        <source>Firmware Update</source>
        <translation>Обновление прошивки</translation>
    </message>
    <message>
        <source>About</source>
        <translation>О программе</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Выход</translation>
    </message>
    <message>
        <source>Settings have been imported. The application will be closed</source>
        <translation>Настройки импортированы. Приложение будет закрыто</translation>
    </message>
    <message>
        <source>Settings import failed</source>
        <translation>Не удалось импортировать настройки</translation>
    </message>
    <message>
        <source>Settings Import</source>
        <translation>Импорт настроек</translation>
    </message>
    <message>
        <source>Settings export failed</source>
        <translation>Не удалось экспортировать настройки</translation>
    </message>
    <message>
        <source>Settings Export</source>
        <translation>Экспорт настроек</translation>
    </message>
</context>
</TS>
